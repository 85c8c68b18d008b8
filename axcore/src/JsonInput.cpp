#include "axcore/JsonInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <cstring>
#include <unordered_set>

#include "axcore/MessageText.h"

namespace axcore {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kNamedDepth = 3;

std::string JoinedKeys(const std::vector<std::string>& keys) {
  std::string entry;
  for (const std::string& key : keys) entry += (entry.empty() ? "" : ".") + QuoteForMessage(key);
  return entry;
}

std::string CannotRead(int error) { return std::string("cannot read: ") + std::strerror(error); }

std::string TooLarge(std::uint64_t bytes) {
  return "cannot read: " + std::to_string(bytes) + " bytes, more than the " + std::to_string(kMaxInputFileBytes) +
         " bytes (64 MiB) an input file may have";
}

// Empty when `info` is a regular file this reader takes, else the reason.
std::string RefusedFile(const struct stat& info) {
  if (std::string kind = NotARegularFile(info.st_mode); !kind.empty()) return "cannot read: " + kind;
  if (static_cast<std::uint64_t>(info.st_size) > kMaxInputFileBytes)
    return TooLarge(static_cast<std::uint64_t>(info.st_size));
  return {};
}

std::string ParseErrorText(const nlohmann::json::exception& e) {
  std::string what = e.what();
  // Drop the library's "[json.exception.parse_error.101] " prefix.
  if (auto close = what.find("] "); what.rfind("[json.exception", 0) == 0 && close != std::string::npos)
    what.erase(0, close + 2);
  return OneLine(what);
}

// Builds the document while checking it. The JSON library's own builder
// finds each key of an ordered object by a linear search, which makes an
// object of a million keys take hours; this one has checked the key for a
// repeat already and appends it.
class DocumentBuilder final : public nlohmann::json_sax<Json> {
 public:
  explicit DocumentBuilder(JsonEntryNamer name) : m_name(std::move(name)) {}

  const std::string& Error() const { return m_error; }
  Json TakeDocument() { return std::move(m_document); }

  bool null() override { return Add(nullptr); }
  bool boolean(bool value) override { return Add(value); }
  bool number_integer(number_integer_t value) override { return Add(value); }
  bool number_unsigned(number_unsigned_t value) override { return Add(value); }
  bool number_float(number_float_t value, const string_t&) override { return Add(value); }
  bool string(string_t& value) override { return Add(std::move(value)); }
  bool binary(binary_t& value) override { return Add(std::move(value)); }
  bool start_object(std::size_t) override { return Open(Json::object()); }
  bool start_array(std::size_t) override { return Open(Json::array()); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }

  bool key(string_t& key) override {
    Level& level = m_open.back();
    if (!level.keys.insert(key).second)
      return Refuse(m_open.size() - 1, "duplicate key " + QuoteForMessage(key));
    level.key = std::move(key);
    level.keyed = true;
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception& e) override {
    // The library says which number overflowed but not where.
    std::string what = ParseErrorText(e);
    if (auto at = what.find("number overflow"); at != std::string::npos)
      return Refuse(m_open.size(), what.erase(0, at) + " (not a finite number)");
    m_error = "invalid JSON: " + what;
    return false;
  }

 private:
  // An object or array being read; an object with the keys it has met and
  // the key whose value is being read.
  struct Level {
    Json* value;
    std::unordered_set<std::string> keys;
    std::string key;
    bool keyed = false;
  };

  // The value goes into the innermost open container (or is the document).
  Json* Place(Json value) {
    if (m_open.empty()) {
      m_document = std::move(value);
      return &m_document;
    }
    Level& level = m_open.back();
    if (level.value->is_array()) {
      auto& array = level.value->get_ref<Json::array_t&>();
      array.push_back(std::move(value));
      return &array.back();
    }
    auto& object = level.value->get_ref<Json::object_t&>();
    object.Container::emplace_back(level.key, std::move(value));
    return &object.back().second;
  }

  bool Add(Json value) {
    Place(std::move(value));
    return true;
  }

  bool Open(Json container) {
    // Named by its outer keys: enough to find it, short enough to read.
    if (m_open.size() >= static_cast<std::size_t>(kMaxJsonDepth))
      return Refuse(kNamedDepth, "nested more than " + std::to_string(kMaxJsonDepth) + " levels deep");
    m_open.push_back({Place(std::move(container)), {}, {}, false});
    return true;
  }

  bool Close() {
    m_open.pop_back();
    return true;
  }

  // Refuses the entry named by the keys of the `levels` outermost levels.
  bool Refuse(std::size_t levels, const std::string& reason) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < levels && i < m_open.size(); ++i)
      if (m_open[i].keyed) keys.push_back(m_open[i].key);
    const std::string entry = m_name(keys);
    m_error = (entry.empty() ? "" : entry + ": ") + reason;
    return false;
  }

  JsonEntryNamer m_name;
  Json m_document;
  std::vector<Level> m_open;
  std::string m_error;
};

}  // namespace

std::string NotARegularFile(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return "is a directory";
  const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                     : S_ISSOCK(mode) ? "a socket"
                                      : "a special file";
  return std::string("not a regular file (") + kind + ")";
}

std::string ReadInputFile(const std::string& path, std::string& text) {
  text.clear();
  if (path.empty()) return "cannot read: no file name";
  // Looked at before it is opened, so that a device is never opened; opened
  // without blocking, so that a FIFO put there since cannot hang the read.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return CannotRead(errno);
  if (std::string refused = RefusedFile(info); !refused.empty()) return refused;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return CannotRead(errno);
  std::string reason = ::fstat(fd, &info) != 0 ? CannotRead(errno) : RefusedFile(info);
  if (reason.empty()) text.reserve(static_cast<std::size_t>(info.st_size));
  // A file that grows while it is read is still held to the bound.
  char buffer[65536];
  while (reason.empty()) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno != EINTR) reason = CannotRead(errno);
      continue;
    }
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxInputFileBytes) reason = TooLarge(text.size());
  }
  ::close(fd);
  if (!reason.empty()) text.clear();
  return reason;
}

JsonInput ParseJsonInput(std::string_view text, std::string_view source, const JsonEntryNamer& nameEntry) {
  DocumentBuilder builder(nameEntry ? nameEntry : JsonEntryNamer(JoinedKeys));
  const bool parsed = Json::sax_parse(text.begin(), text.end(), &builder);
  JsonInput input;
  if (parsed && builder.Error().empty()) {
    input.json = builder.TakeDocument();
  } else {
    input.error = OneLine(source) + ": " + (builder.Error().empty() ? "invalid JSON" : builder.Error());
  }
  return input;
}

JsonInput LoadJsonFile(const std::string& path, const JsonEntryNamer& nameEntry) {
  std::string text;
  if (std::string reason = ReadInputFile(path, text); !reason.empty())
    return {std::nullopt, (path.empty() ? QuoteForMessage(path) : OneLine(path)) + ": " + reason};
  return ParseJsonInput(text, path, nameEntry);
}

namespace {
template <typename J>
bool WholeNumberOf(const J& value, long long minimum, long long maximum, long long& number) {
  long long whole = 0;
  if (value.is_number_unsigned()) {
    const auto u = value.template get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) return false;
    whole = static_cast<long long>(u);
  } else if (value.is_number_integer()) {
    whole = value.template get<long long>();
  } else if (value.is_number_float()) {
    const double d = value.template get<double>();
    // Compared as doubles before the conversion: only a whole number inside
    // the range (which lies within long long) is converted.
    if (!(d >= static_cast<double>(minimum) && d <= static_cast<double>(maximum)) || std::fabs(d) >= 9.0e18 ||
        std::trunc(d) != d)
      return false;
    whole = static_cast<long long>(d);
  } else {
    return false;
  }
  if (whole < minimum || whole > maximum) return false;
  number = whole;
  return true;
}
}  // namespace

bool JsonWholeNumber(const nlohmann::ordered_json& value, long long minimum, long long maximum, long long& number) {
  return WholeNumberOf(value, minimum, maximum, number);
}
bool JsonWholeNumber(const nlohmann::json& value, long long minimum, long long maximum, long long& number) {
  return WholeNumberOf(value, minimum, maximum, number);
}

}  // namespace axcore
