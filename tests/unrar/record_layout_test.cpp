// The records must have the library's published layout byte for byte: a
// field at the wrong offset makes the library read or write the wrong bytes.
#include <gtest/gtest.h>

#include <cstddef>

#include "unrar.h"

TEST(RecordLayout, PlatformTypesOfTheInterface) {
  EXPECT_EQ(sizeof(wchar_t), 4u);
  EXPECT_EQ(sizeof(LPARAM), 8u);
  EXPECT_EQ(sizeof(HANDLE), 8u);
}

TEST(RecordLayout, OpenArchiveData) {
  EXPECT_EQ(sizeof(RAROpenArchiveData), 36u);
  EXPECT_EQ(offsetof(RAROpenArchiveData, ArcName), 0u);
  EXPECT_EQ(offsetof(RAROpenArchiveData, OpenMode), 8u);
  EXPECT_EQ(offsetof(RAROpenArchiveData, OpenResult), 12u);
  EXPECT_EQ(offsetof(RAROpenArchiveData, CmtBuf), 16u);
  EXPECT_EQ(offsetof(RAROpenArchiveData, CmtBufSize), 24u);
  EXPECT_EQ(offsetof(RAROpenArchiveData, CmtSize), 28u);
  EXPECT_EQ(offsetof(RAROpenArchiveData, CmtState), 32u);
}

TEST(RecordLayout, OpenArchiveDataEx) {
  EXPECT_EQ(sizeof(RAROpenArchiveDataEx), 176u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, ArcName), 0u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, ArcNameW), 8u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, OpenMode), 16u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, OpenResult), 20u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, CmtBuf), 24u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, CmtBufSize), 32u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, CmtSize), 36u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, CmtState), 40u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, Flags), 44u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, Callback), 48u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, UserData), 56u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, OpFlags), 64u);
  EXPECT_EQ(offsetof(RAROpenArchiveDataEx, CmtBufW), 68u);
}

TEST(RecordLayout, HeaderData) {
  EXPECT_EQ(sizeof(RARHeaderData), 576u);
  EXPECT_EQ(offsetof(RARHeaderData, FileName), 260u);
  EXPECT_EQ(offsetof(RARHeaderData, Flags), 520u);
  EXPECT_EQ(offsetof(RARHeaderData, FileAttr), 552u);
  EXPECT_EQ(offsetof(RARHeaderData, CmtBuf), 556u);
  EXPECT_EQ(offsetof(RARHeaderData, CmtBufSize), 564u);
  EXPECT_EQ(offsetof(RARHeaderData, CmtState), 572u);
}

TEST(RecordLayout, HeaderDataExEveryFieldTheProgramTouches) {
  EXPECT_EQ(sizeof(RARHeaderDataEx), 14340u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, ArcName), 0u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, ArcNameW), 1024u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, FileName), 5120u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, FileNameW), 6144u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, Flags), 10240u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, PackSize), 10244u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, PackSizeHigh), 10248u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, UnpSize), 10252u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, UnpSizeHigh), 10256u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, HostOS), 10260u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, FileCRC), 10264u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, FileTime), 10268u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, UnpVer), 10272u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, Method), 10276u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, FileAttr), 10280u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, CmtBuf), 10284u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, CmtBufSize), 10292u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, CmtSize), 10296u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, CmtState), 10300u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, DictSize), 10304u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, HashType), 10308u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, Hash), 10312u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, RedirType), 10344u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, RedirName), 10348u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, RedirNameSize), 10356u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, DirTarget), 10360u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, MtimeLow), 10364u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, AtimeHigh), 10384u);
  EXPECT_EQ(offsetof(RARHeaderDataEx, Reserved), 10388u);
}
