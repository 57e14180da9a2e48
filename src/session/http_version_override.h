// While any session lives, the user's HTTP/1.1 settings of the internet layer are held off;
// they are restored when the last session is gone, and once more when the library unloads.
#pragma once

#include <cstdint>
#include <mutex>

namespace zemuser {

class HttpVersionOverride {
  public:
    // The one instance; made on first use, its unload step registered then.
    static HttpVersionOverride& Instance();

    void Acquire();  // a session was constructed
    void Release();  // a session was destroyed
    std::int32_t Count();

    HttpVersionOverride(const HttpVersionOverride&) = delete;
    HttpVersionOverride& operator=(const HttpVersionOverride&) = delete;

  private:
    HttpVersionOverride() = default;
    ~HttpVersionOverride();
    void WriteHttpVersionSettings(bool restore);

    std::mutex m_lock;
    std::int32_t m_count = 0;
};

}  // namespace zemuser
