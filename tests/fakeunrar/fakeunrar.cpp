// A scripted stand-in for the UnRAR library: serves the headers, statuses,
// comments and callback messages a script describes, and records every call
// it receives with its arguments. The script format is in README.md.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "unrar.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Callback {
  std::string when = "process";  // "read" or "process"
  long msg = 0;
  long p2 = 0;
  std::string name;  // volume name offered in P1 (message 0)
  long size = 128;   // password buffer size (message 2), data length (message 1)
  long p1 = 0;       // the number P1 carries (message 5: the dictionary in KB)
  long cancel = -1;  // status returned when the answer is -1; -1: per-message default
  long op = -1;      // only while processing with this operation
  long open = 0;     // only during this open (1-based)
};

struct Entry {
  std::string name;
  std::string arcName;
  bool hasArcName = false;
  unsigned flags = 0, pack = 0, packHigh = 0, unp = 0, unpHigh = 0, host = 2, crc = 0, time = 0,
           ver = 29, method = 0x33, attr = 0x20;
  long read = 0;
  long repeat = 1;
  long process[3] = {0, 0, 0};
  long error = 0;        // errno left behind by a failed process call
  bool folders = false;  // extracting makes the entry's folders, whether or not it fails
  bool hasData = false;
  std::string data;
  std::vector<Callback> callbacks;
};

struct OpenStep {
  long result = 0;
  long cmtState = 0;
  bool hasComment = false;
  std::string comment;
};

struct Script {
  int version = 5;
  std::vector<OpenStep> opens;
  std::vector<long> closes;
  std::vector<Entry> entries;
  long end = 10;
};

struct Session {
  int number = 0;
  bool open = false;
  std::string arcName;
  size_t cursor = 0;
  long repeatsDone = 0;
  const Entry* current = nullptr;
  UNRARCALLBACK callback = nullptr;
  LPARAM userData = 0;
};

Script script;
std::vector<std::string> calls;
std::string callsText;
std::string parseError;
Session sessions[256];
int openCount = 0;
int closeCount = 0;

std::string quote(const char* text) {
  if (!text) return "null";
  std::string out = "\"";
  for (const char* p = text; *p; ++p) {
    if (*p == '"' || *p == '\\') out += '\\';
    if (*p == '\n') {
      out += "\\n";
      continue;
    }
    out += *p;
  }
  return out + "\"";
}

void record(const std::string& line) {
  calls.push_back(line);
  if (const char* log = std::getenv("QUILLMOSS_FAKE_UNRAR_LOG")) {
    if (FILE* f = std::fopen(log, "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }
}

// --- script parsing -------------------------------------------------------

bool tokenize(const std::string& line, std::vector<std::pair<std::string, std::string>>& out,
              std::string& word) {
  size_t i = 0;
  auto skip = [&] {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
  };
  skip();
  while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
  for (;;) {
    skip();
    if (i >= line.size() || line[i] == '#') return true;
    std::string key, value;
    while (i < line.size() && line[i] != '=' && line[i] != ' ') key += line[i++];
    if (i >= line.size() || line[i] != '=') return false;
    ++i;
    if (i < line.size() && line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size()) {
          c = line[i++];
          if (c == 'n') c = '\n';
          if (c == 'r') c = '\r';
        }
        value += c;
      }
      if (!closed) return false;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
        value += line[i++];
    }
    out.emplace_back(key, value);
  }
}

bool number(const std::string& text, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0';
}

bool unsignedNumber(const std::string& text, unsigned& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  out = static_cast<unsigned>(v);
  return errno == 0 && *end == '\0';
}

bool parseLine(const std::string& line, Script& s, std::string& error) {
  {
    std::istringstream in(line);
    std::string first;
    in >> first;
    if (first == "version") {
      long v = 0;
      std::string rest;
      in >> rest;
      if (!number(rest, v)) {
        error = "version needs a number";
        return false;
      }
      s.version = static_cast<int>(v);
      return true;
    }
  }
  std::vector<std::pair<std::string, std::string>> kv;
  std::string word;
  if (!tokenize(line, kv, word)) {
    error = "malformed key=value";
    return false;
  }
  if (word.empty() || word[0] == '#') return true;
  auto bad = [&](const std::string& key) {
    error = "unknown or bad value for '" + key + "' in " + word;
    return false;
  };
  if (word == "end") {
    for (auto& [k, v] : kv)
      if (k != "status" || !number(v, s.end)) return bad(k);
    return true;
  }
  if (word == "close") {
    long r = 0;
    for (auto& [k, v] : kv)
      if (k != "result" || !number(v, r)) return bad(k);
    s.closes.push_back(r);
    return true;
  }
  if (word == "open") {
    OpenStep o;
    for (auto& [k, v] : kv) {
      if (k == "result") {
        if (!number(v, o.result)) return bad(k);
      } else if (k == "cmtstate") {
        if (!number(v, o.cmtState)) return bad(k);
      } else if (k == "comment") {
        o.hasComment = true;
        o.comment = v;
      } else {
        return bad(k);
      }
    }
    s.opens.push_back(o);
    return true;
  }
  if (word == "entry") {
    Entry e;
    for (auto& [k, v] : kv) {
      bool ok = true;
      if (k == "name")
        e.name = v;
      else if (k == "arcname")
        e.arcName = v, e.hasArcName = true;
      else if (k == "flags")
        ok = unsignedNumber(v, e.flags);
      else if (k == "pack")
        ok = unsignedNumber(v, e.pack);
      else if (k == "packhigh")
        ok = unsignedNumber(v, e.packHigh);
      else if (k == "unp")
        ok = unsignedNumber(v, e.unp);
      else if (k == "unphigh")
        ok = unsignedNumber(v, e.unpHigh);
      else if (k == "host")
        ok = unsignedNumber(v, e.host);
      else if (k == "crc")
        ok = unsignedNumber(v, e.crc);
      else if (k == "time")
        ok = unsignedNumber(v, e.time);
      else if (k == "ver")
        ok = unsignedNumber(v, e.ver);
      else if (k == "method")
        ok = unsignedNumber(v, e.method);
      else if (k == "attr")
        ok = unsignedNumber(v, e.attr);
      else if (k == "read")
        ok = number(v, e.read);
      else if (k == "repeat")
        ok = number(v, e.repeat) && e.repeat >= 1;
      else if (k == "process") {
        long p = 0;
        ok = number(v, p);
        e.process[0] = e.process[1] = e.process[2] = p;
      } else if (k == "process0")
        ok = number(v, e.process[0]);
      else if (k == "process1")
        ok = number(v, e.process[1]);
      else if (k == "process2")
        ok = number(v, e.process[2]);
      else if (k == "data")
        e.data = v, e.hasData = true;
      else if (k == "errno")
        ok = number(v, e.error);
      else if (k == "folders")
        e.folders = v == "1";
      else
        ok = false;
      if (!ok) return bad(k);
    }
    s.entries.push_back(e);
    return true;
  }
  if (word == "callback") {
    if (s.entries.empty()) {
      error = "callback before any entry";
      return false;
    }
    Callback c;
    for (auto& [k, v] : kv) {
      bool ok = true;
      if (k == "when")
        ok = (v == "read" || v == "process"), c.when = v;
      else if (k == "msg")
        ok = number(v, c.msg);
      else if (k == "p2")
        ok = number(v, c.p2);
      else if (k == "name")
        c.name = v;
      else if (k == "size")
        ok = number(v, c.size) && c.size > 0 && c.size <= 1 << 20;
      else if (k == "p1")
        ok = number(v, c.p1);
      else if (k == "cancel")
        ok = number(v, c.cancel);
      else if (k == "op")
        ok = number(v, c.op);
      else if (k == "open")
        ok = number(v, c.open);
      else
        ok = false;
      if (!ok) return bad(k);
    }
    s.entries.back().callbacks.push_back(c);
    return true;
  }
  error = "unknown directive '" + word + "'";
  return false;
}

int loadScript(const std::string& text) {
  Script s;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  parseError.clear();
  while (std::getline(in, line)) {
    ++number;
    std::string error;
    if (!parseLine(line, s, error)) {
      parseError = "line " + std::to_string(number) + ": " + error;
      script = Script();
      return number;
    }
  }
  script = s;
  return 0;
}

void resetRun() {
  calls.clear();
  for (Session& session : sessions) session = Session();
  openCount = 0;
  closeCount = 0;
}

void loadFromEnvironment() {
  const char* path = std::getenv("QUILLMOSS_FAKE_UNRAR_SCRIPT");
  if (!path || !*path) return;
  std::ifstream in(path);
  if (!in) {
    parseError = std::string("cannot read ") + path;
    std::fprintf(stderr, "fakeunrar: %s\n", parseError.c_str());
    return;
  }
  std::stringstream text;
  text << in.rdbuf();
  if (loadScript(text.str()) != 0) std::fprintf(stderr, "fakeunrar: %s\n", parseError.c_str());
}

// Defined after the script's globals, so it runs once they exist.
struct EnvironmentScript {
  EnvironmentScript() { loadFromEnvironment(); }
} environmentScript;

// --- behaviour --------------------------------------------------------------

Session* find(HANDLE h, std::string& label) {
  for (Session& s : sessions)
    if (h == static_cast<void*>(&s)) {
      label = "#" + std::to_string(s.number);
      if (!s.open) {
        label += " (closed)";
        return nullptr;
      }
      return &s;
    }
  label = h ? "#?" : "null";
  return nullptr;
}

void putWide(wchar_t* out, size_t capacity, const std::string& utf8) {
  size_t n = 0;
  for (size_t i = 0; i < utf8.size() && n + 1 < capacity;) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    unsigned cp = c;
    int extra = 0;
    if (c >= 0xF0)
      cp = c & 0x07, extra = 3;
    else if (c >= 0xE0)
      cp = c & 0x0F, extra = 2;
    else if (c >= 0xC0)
      cp = c & 0x1F, extra = 1;
    ++i;
    for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    out[n++] = static_cast<wchar_t>(cp);
  }
  out[n] = 0;
}

void copyBounded(char* out, size_t capacity, const std::string& text) {
  const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}

void makeFolders(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i)
    if (path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
}

// UserData as recorded: "0", or "set" for any other value (a pointer, which
// differs from run to run).
std::string userDataText(LPARAM userData) {
  return userData == 0 ? "0" : "set";
}

// Runs the callbacks scripted for this moment. Returns 0, or the status the
// call must return because the program cancelled.
long runCallbacks(Session& s, const Entry& e, const char* when, int operation) {
  for (const Callback& c : e.callbacks) {
    if (c.when != when) continue;
    if (c.op >= 0 && c.op != operation) continue;
    if (c.open > 0 && c.open != s.number) continue;
    std::string line =
        "callback(" + std::to_string(c.msg) + ", UserData=" + userDataText(s.userData) + ", P2=";
    if (!s.callback) {
      record(line + (c.msg == 1 ? std::to_string(c.size) : std::to_string(c.p2)) +
             ") not sent: no callback set");
      if (c.msg == 2) return c.cancel >= 0 ? c.cancel : ERAR_MISSING_PASSWORD;
      if (c.msg == 0 && c.p2 == RAR_VOL_ASK) return c.cancel >= 0 ? c.cancel : ERAR_EOPEN;
      continue;
    }
    const size_t guard = 64;
    std::vector<char> buffer;
    long p2 = c.p2;
    long defaultCancel = ERAR_UNKNOWN;
    if (c.msg == 0) {
      buffer.assign(1024 + guard, '\x5A');
      copyBounded(buffer.data(), 1024, c.name);
      defaultCancel = ERAR_EOPEN;
    } else if (c.msg == 2) {
      buffer.assign(static_cast<size_t>(c.size) + guard, '\x5A');
      std::memset(buffer.data(), 0, static_cast<size_t>(c.size));
      p2 = c.size;
      defaultCancel = ERAR_MISSING_PASSWORD;
    } else if (c.msg == 1) {
      buffer.assign(static_cast<size_t>(c.size) + guard, 'd');
      p2 = c.size;
    } else {
      buffer.assign(1024 + guard, 0);
    }
    const size_t usable = buffer.size() - guard;
    // Message 5 carries numbers, the entry's dictionary and the limit; 1 allows.
    if (c.msg == UCM_LARGEDICT) {
      const int result = s.callback(UCM_LARGEDICT, s.userData, c.p1, p2);
      record(line + std::to_string(p2) + ", P1=" + std::to_string(c.p1) +
             ") = " + std::to_string(result));
      const long cancel = c.cancel >= 0 ? c.cancel : ERAR_LARGE_DICT;
      if (cancel != 0 && result != 1) return cancel;
      continue;
    }
    const int result = s.callback(static_cast<UINT>(c.msg), s.userData,
                                  reinterpret_cast<LPARAM>(buffer.data()), p2);
    line += std::to_string(p2) + ") = " + std::to_string(result);
    bool overflow = false;
    for (size_t i = usable; i < buffer.size(); ++i)
      if (buffer[i] != (c.msg == 1 ? 'd' : (c.msg == 0 || c.msg == 2 ? '\x5A' : 0)))
        overflow = true;
    if (c.msg == 0 || c.msg == 2) {
      const bool terminated = std::memchr(buffer.data(), 0, usable) != nullptr;
      if (terminated)
        line += " P1=" + quote(buffer.data());
      else
        line += " P1=(not terminated)";
    }
    if (overflow) line += " OVERFLOW";
    record(line);
    const long cancel = c.cancel >= 0 ? c.cancel : defaultCancel;
    if (cancel != 0 && (result == -1 || (c.msg == 2 && buffer[0] == 0))) return cancel;
  }
  return 0;
}

}  // namespace

// --- the library's entry points --------------------------------------------

extern "C" {

UNRAR_EXPORT int RARGetDllVersion(void) {
  record("RARGetDllVersion() = " + std::to_string(script.version));
  return script.version;
}

UNRAR_EXPORT HANDLE RAROpenArchive(struct RAROpenArchiveData* d) {
  const OpenStep step =
      script.opens.empty()
          ? OpenStep()
          : script.opens[std::min<size_t>(static_cast<size_t>(openCount), script.opens.size() - 1)];
  std::string line =
      "RAROpenArchive(ArcName=" + quote(d->ArcName) + ", OpenMode=" + std::to_string(d->OpenMode) +
      ", OpenResult=" + std::to_string(d->OpenResult) +
      ", CmtBuf=" + (d->CmtBuf ? "buffer" : "null") +
      ", CmtBufSize=" + std::to_string(d->CmtBufSize) + ", CmtSize=" + std::to_string(d->CmtSize) +
      ", CmtState=" + std::to_string(d->CmtState) + ")";
  ++openCount;
  if (openCount >= 256) {
    record(line + " = null (too many opens)");
    d->OpenResult = ERAR_NO_MEMORY;
    return nullptr;
  }
  if (step.result != 0) {
    d->OpenResult = static_cast<unsigned>(step.result);
    record(line + " = null OpenResult=" + std::to_string(step.result));
    return nullptr;
  }
  Session& s = sessions[openCount];
  s = Session();
  s.number = openCount;
  s.open = true;
  s.arcName = d->ArcName ? d->ArcName : "";
  d->OpenResult = 0;
  d->CmtState = static_cast<unsigned>(step.cmtState);
  if (step.hasComment && d->CmtBuf && d->CmtBufSize > 0) {
    copyBounded(d->CmtBuf, d->CmtBufSize, step.comment);
    d->CmtSize = static_cast<unsigned>(std::strlen(d->CmtBuf) + 1);
  } else if (step.cmtState == 0) {
    d->CmtSize = 0;
  }
  record(line + " = #" + std::to_string(s.number) + " CmtState=" + std::to_string(d->CmtState));
  return &s;
}

UNRAR_EXPORT HANDLE RAROpenArchiveEx(struct RAROpenArchiveDataEx* d) {
  d->OpenResult = ERAR_UNKNOWN;
  record("RAROpenArchiveEx() = null (not served)");
  return nullptr;
}

UNRAR_EXPORT int RARCloseArchive(HANDLE h) {
  std::string label;
  Session* s = find(h, label);
  const long result = script.closes.empty()
                          ? 0
                          : script.closes[std::min<size_t>(static_cast<size_t>(closeCount),
                                                           script.closes.size() - 1)];
  ++closeCount;
  if (!s) {
    record("RARCloseArchive(" + label + ") = 17");
    return ERAR_ECLOSE;
  }
  s->open = false;
  record("RARCloseArchive(" + label + ") = " + std::to_string(result));
  return static_cast<int>(result);
}

UNRAR_EXPORT int RARReadHeader(HANDLE, struct RARHeaderData*) {
  record("RARReadHeader() = 21 (not served)");
  return ERAR_UNKNOWN;
}

UNRAR_EXPORT int RARReadHeaderEx(HANDLE h, struct RARHeaderDataEx* d) {
  std::string label;
  Session* s = find(h, label);
  if (!s) {
    record("RARReadHeaderEx(" + label + ") = 13");
    return ERAR_BAD_ARCHIVE;
  }
  s->current = nullptr;
  if (s->cursor >= script.entries.size()) {
    record("RARReadHeaderEx(" + label + ") = " + std::to_string(script.end));
    return static_cast<int>(script.end);
  }
  const Entry& e = script.entries[s->cursor];
  if (++s->repeatsDone >= e.repeat) {
    ++s->cursor;
    s->repeatsDone = 0;
  }
  const long cancelled = runCallbacks(*s, e, "read", -1);
  const long status = cancelled ? cancelled : e.read;
  copyBounded(d->ArcName, sizeof d->ArcName, e.hasArcName ? e.arcName : s->arcName);
  putWide(d->ArcNameW, 1024, e.hasArcName ? e.arcName : s->arcName);
  copyBounded(d->FileName, sizeof d->FileName, e.name);
  putWide(d->FileNameW, 1024, e.name);
  d->Flags = e.flags;
  d->PackSize = e.pack;
  d->PackSizeHigh = e.packHigh;
  d->UnpSize = e.unp;
  d->UnpSizeHigh = e.unpHigh;
  d->HostOS = e.host;
  d->FileCRC = e.crc;
  d->FileTime = e.time;
  d->UnpVer = e.ver;
  d->Method = e.method;
  d->FileAttr = e.attr;
  if (status == 0) s->current = &e;
  record("RARReadHeaderEx(" + label + ") = " + std::to_string(status) + " " +
         quote(e.name.c_str()));
  return static_cast<int>(status);
}

UNRAR_EXPORT int RARProcessFile(HANDLE h, int operation, char* destPath, char* destName) {
  std::string label;
  Session* s = find(h, label);
  std::string line = "RARProcessFile(" + label + ", " + std::to_string(operation) +
                     ", DestPath=" + quote(destPath) + ", DestName=" + quote(destName) + ")";
  if (!s) {
    record(line + " = 13");
    return ERAR_BAD_ARCHIVE;
  }
  if (!s->current) {
    record(line + " = 21 (no header read)");
    return ERAR_UNKNOWN;
  }
  const Entry& e = *s->current;
  s->current = nullptr;
  const long cancelled = runCallbacks(*s, e, "process", operation);
  long status = cancelled;
  if (!status) status = (operation >= 0 && operation <= 2) ? e.process[operation] : ERAR_UNKNOWN;
  if (operation == RAR_EXTRACT && e.folders && destPath)
    makeFolders(std::string(destPath) + "/" + e.name);
  if (status == 0 && operation == RAR_EXTRACT && e.hasData && destPath) {
    const std::string target = std::string(destPath) + "/" + e.name;
    makeFolders(target);
    if ((e.flags & 0xE0) == 0xE0) {
      ::mkdir(target.c_str(), 0755);
    } else if (FILE* f = std::fopen(target.c_str(), "wb")) {
      std::fwrite(e.data.data(), 1, e.data.size(), f);
      std::fclose(f);
    } else {
      status = ERAR_ECREATE;
    }
  }
  record(line + " = " + std::to_string(status));
  if (status != 0 && e.error != 0) errno = static_cast<int>(e.error);
  return static_cast<int>(status);
}

UNRAR_EXPORT int RARProcessFileW(HANDLE, int, wchar_t*, wchar_t*) {
  record("RARProcessFileW() = 21 (not served)");
  return ERAR_UNKNOWN;
}

UNRAR_EXPORT void RARSetCallback(HANDLE h, UNRARCALLBACK callback, LPARAM userData) {
  std::string label;
  Session* s = find(h, label);
  record("RARSetCallback(" + label + ", " + (callback ? "callback" : "null") +
         ", UserData=" + userDataText(userData) + ")");
  if (!s) return;
  s->callback = callback;
  s->userData = userData;
}

UNRAR_EXPORT void RARSetChangeVolProc(HANDLE, CHANGEVOLPROC) {
  record("RARSetChangeVolProc()");
}

UNRAR_EXPORT void RARSetProcessDataProc(HANDLE, PROCESSDATAPROC) {
  record("RARSetProcessDataProc()");
}

#ifndef FAKEUNRAR_WITHOUT_SETPASSWORD
UNRAR_EXPORT void RARSetPassword(HANDLE h, char* password) {
  std::string label;
  find(h, label);
  record("RARSetPassword(" + label + ", " + quote(password) + ")");
}
#endif

}  // extern "C"

// --- the test's controls ------------------------------------------------------

FAKE_EXPORT int FakeUnRar_Load(const char* text) {
  resetRun();
  return loadScript(text ? text : "");
}

FAKE_EXPORT const char* FakeUnRar_Error() {
  return parseError.c_str();
}

FAKE_EXPORT const char* FakeUnRar_Calls() {
  callsText.clear();
  for (const std::string& line : calls) callsText += line + "\n";
  return callsText.c_str();
}

FAKE_EXPORT void FakeUnRar_ClearCalls() {
  calls.clear();
}
