// A byte stream under Asio (a TCP socket, a serial port, a pseudo-terminal)
// behind one interface, so that the client and the server carry frames the
// same way over each.
#pragma once

#include <asio.hpp>
#include <functional>

namespace drivewire {

class ByteStream {
 public:
  using Handler = std::function<void(const asio::error_code&, std::size_t)>;
  virtual ~ByteStream() = default;
  virtual void ReadSome(asio::mutable_buffer buffer, Handler handler) = 0;
  // Writes all of `buffer`, blocking (frames are small, and a request
  // waits for its answer anyway).
  virtual void WriteAll(asio::const_buffer buffer, asio::error_code& ec) = 0;
  virtual void AsyncWriteAll(asio::const_buffer buffer, Handler handler) = 0;
  virtual void Close() = 0;
};

template <class Stream>
class StreamOf : public ByteStream {
 public:
  explicit StreamOf(Stream stream) : m_stream(std::move(stream)) {}
  void ReadSome(asio::mutable_buffer buffer, Handler handler) override {
    m_stream.async_read_some(buffer, std::move(handler));
  }
  void WriteAll(asio::const_buffer buffer, asio::error_code& ec) override { asio::write(m_stream, buffer, ec); }
  void AsyncWriteAll(asio::const_buffer buffer, Handler handler) override {
    asio::async_write(m_stream, buffer, std::move(handler));
  }
  void Close() override {
    asio::error_code ec;
    m_stream.close(ec);
  }
  Stream& Get() { return m_stream; }

 private:
  Stream m_stream;
};

}  // namespace drivewire
