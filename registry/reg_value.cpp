// Reading one registry value as text, decoded by its registry type.
#include <cstdio>
#include <vector>

#include "registry/module2.h"

namespace ttu::registry {
namespace {

// Closes the key on every way out, a failure while decoding included.
class KeyCloser {
 public:
  KeyCloser(Module2& m, int32_t handle) : m_(m), handle_(handle) {}
  ~KeyCloser() { m_.RegCloseHandle(handle_); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  Module2& m_;
  int32_t handle_;
};

std::string Hex(unsigned value, int min_digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", min_digits, value);
  return buf;
}

}  // namespace

std::string Module2::DecodeValue(uint32_t type, const uint8_t* data, uint32_t n) {
  std::string text;
  if (type == platform::kRegBinary) {
    for (uint32_t k = 0; k < n; ++k) text += Hex(data[k], 1) + " ";
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
  }
  if (type == platform::kRegDword) {
    // Pairs of bytes from the last to the first; an odd count has no byte
    // before the first one for its last pair.
    for (int64_t k = 0; k <= int64_t{n} - 1; k += 2) {
      const int64_t hi = int64_t{n} - 1 - k, lo = int64_t{n} - 2 - k;
      if (lo < 0) throw RunError::Of(kErrSubscript);
      text += Hex(static_cast<unsigned>(data[hi]) << 8 | data[lo], 4);
    }
    return text;
  }
  if (n > 0 && data[n - 1] == 0) --n;  // one final NUL; others stay
  return platform::AnsiToUtf8(std::string(reinterpret_cast<const char*>(data), n));
}

int32_t Module2::RegReadValue(const std::string& path, const std::string& value_name,
                              std::string& holder) {
  ResetRegError();
  const int32_t handle = RegOpenPath(path, platform::kKeyRead);
  if (handle == -1) return -1;
  KeyCloser closer(*this, handle);
  const auto key = static_cast<platform::HKEY32>(handle);
  uint32_t type = 0, size = 0;
  const std::string ansi_name = platform::Utf8ToAnsi(value_name);
  int32_t code = api_.RegQueryValueExA(key, ansi_name, nullptr, &type, nullptr, &size);
  if (code != platform::kErrorSuccess && code != platform::kErrorMoreData) {
    SetRegApiError(code);
    return -1;
  }
  std::vector<uint8_t> buffer(size, 0x20);
  code = api_.RegQueryValueExA(key, ansi_name, nullptr, &type, buffer.data(), &size);
  if (code != platform::kErrorSuccess) {
    SetRegApiError(code);
    return -1;
  }
  if (size == 0) return 0;
  if (size > buffer.size()) throw RunError::Of(kErrSubscript);  // the platform broke its word
  holder = DecodeValue(type, buffer.data(), size);
  return 0;
}

}  // namespace ttu::registry
