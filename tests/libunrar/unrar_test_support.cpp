#include "unrar_test_support.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace unrartest {

TempDir::TempDir() {
  const char* t = std::getenv("TMPDIR");
  std::string tmpl = std::string(t && *t ? t : "/tmp") + "/libunrar-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::string cmd = "rm -rf '" + path_ + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string sha256Hex(const std::string& data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(data.data(), data.size(), md, &len, EVP_sha256(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    out += hex[md[i] >> 4];
    out += hex[md[i] & 15];
  }
  return out;
}

std::uint64_t readVint(const std::string& bytes, std::size_t& i) {
  std::uint64_t v = 0;
  for (int shift = 0; i < bytes.size(); shift += 7) {
    auto c = static_cast<std::uint8_t>(bytes[i++]);
    v |= static_cast<std::uint64_t>(c & 0x7F) << shift;
    if (!(c & 0x80)) break;
  }
  return v;
}

Rar5Header firstRar5FileHeader(const std::string& bytes) {
  Rar5Header h;
  h.start = 8 + 8;
  std::size_t i = h.start + 4;
  const std::uint64_t size = readVint(bytes, i);
  h.end = i + static_cast<std::size_t>(size);
  readVint(bytes, i);  // type
  const std::uint64_t flags = readVint(bytes, i);
  const std::uint64_t extra = (flags & 1) ? readVint(bytes, i) : 0;
  if (flags & 2) readVint(bytes, i);  // data size
  h.fields = i;
  h.extra = h.end - static_cast<std::size_t>(extra);
  return h;
}

void resealRar5Header(std::string& bytes, const Rar5Header& h) {
  const auto* p = reinterpret_cast<const Bytef*>(bytes.data() + h.start + 4);
  const auto crc = static_cast<std::uint32_t>(crc32(0, p, static_cast<uInt>(h.end - h.start - 4)));
  for (std::size_t k = 0; k < 4; ++k) bytes[h.start + k] = static_cast<char>(crc >> (8 * k));
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listTree(const std::string& root) {
  std::vector<std::string> out;
  std::function<void(const std::string&)> walk = [&](const std::string& rel) {
    std::string dir = rel.empty() ? root : root + "/" + rel;
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      std::string r = rel.empty() ? n : rel + "/" + n;
      out.push_back(r);
      struct stat st {};
      if (::lstat((root + "/" + r).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) walk(r);
    }
    closedir(d);
  };
  walk("");
  std::sort(out.begin(), out.end());
  return out;
}

int CALLBACK_recorder(UINT msg, LPARAM user, LPARAM p1, LPARAM p2) {
  auto* s = reinterpret_cast<CallbackScript*>(user);
  switch (msg) {
    case UCM_CHANGEVOLUME: {
      char* buf = reinterpret_cast<char*>(p1);
      if (p2 == RAR_VOL_NOTIFY) {
        ++s->volumeNotifies;
        s->notifiedVolumes.push_back(buf);
        return s->volumeNotifyAnswer;
      }
      ++s->volumeAsks;
      s->askedVolumes.push_back(buf);
      if (!s->volumeAskRename.empty()) {
        std::strncpy(buf, s->volumeAskRename.c_str(), 1023);
        buf[1023] = 0;
      }
      return s->volumeAskAnswer;
    }
    case UCM_NEEDPASSWORD: {
      ++s->passwordAsks;
      if (s->nextPassword >= s->passwords.size()) return -1;
      const std::string& pw = s->passwords[s->nextPassword++];
      std::strncpy(reinterpret_cast<char*>(p1), pw.c_str(), static_cast<std::size_t>(p2) - 1);
      return 1;
    }
    case UCM_PROCESSDATA:
      ++s->dataBlocks;
      s->dataBytes += static_cast<std::uint64_t>(p2);
      if (s->processDataCancelAfter >= 0 && s->dataBlocks > s->processDataCancelAfter) return -1;
      return s->processDataAnswer;
    case UCM_LARGEDICT:
      s->largeDicts.emplace_back(p1, p2);
      return s->largeDictAnswer;
    default:
      return 0;
  }
}

Archive::Archive(const std::string& path, unsigned mode, CallbackScript* script,
                 std::size_t commentBuffer)
    : path_(path), cmt_(commentBuffer + 1, '\0') {
  std::memset(&data_, 0, sizeof data_);
  data_.ArcName = path_.data();
  data_.OpenMode = mode;
  data_.CmtBuf = commentBuffer ? cmt_.data() : nullptr;
  data_.CmtBufSize = static_cast<unsigned>(commentBuffer);
  if (script) {
    data_.Callback = CALLBACK_recorder;
    data_.UserData = reinterpret_cast<LPARAM>(script);
  }
  h_ = RAROpenArchiveEx(&data_);
}

Archive::~Archive() {
  if (h_) RARCloseArchive(h_);
}

int Archive::next(RARHeaderDataEx& hd) {
  std::memset(&hd, 0, sizeof hd);
  return RARReadHeaderEx(h_, &hd);
}

int Archive::process(int op, const std::string& dest, const std::string& destName) {
  std::string d = dest, n = destName;
  return RARProcessFile(h_, op, d.empty() ? nullptr : d.data(), n.empty() ? nullptr : n.data());
}

RunResult runAll(const std::string& path, unsigned mode, int op, const std::string& dest,
                 CallbackScript* script, const std::string& password) {
  RunResult r;
  Archive a(path, mode, script);
  if (!a.handle()) {
    r.endStatus = -static_cast<int>(a.openResult());
    return r;
  }
  if (!password.empty()) {
    std::string pw = password;
    RARSetPassword(a.handle(), pw.data());
  }
  auto hd = std::make_unique<RARHeaderDataEx>();
  for (int guard = 0; guard < 100000; ++guard) {
    int rc = a.next(*hd);
    if (rc != ERAR_SUCCESS) {
      r.endStatus = rc;
      break;
    }
    r.names.push_back(hd->FileName);
    r.status.push_back(a.process(op, dest));
  }
  return r;
}

}  // namespace unrartest
