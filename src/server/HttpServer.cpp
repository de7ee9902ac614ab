#include "server/HttpServer.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace snipjar::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using asio::use_awaitable;

namespace {

constexpr auto idleTimeout = std::chrono::seconds(120);
constexpr std::int64_t smallRequestBytes = 64 * 1024;

struct Context {
    Service& service;
    PushHub& hub;
    asio::thread_pool& database;
};

// Runs blocking work on the database threads and resumes the caller on its own executor.
template <typename F> asio::awaitable<std::invoke_result_t<F>> offload(asio::thread_pool& pool, F work) {
    using Result = std::invoke_result_t<F>;
    co_return co_await asio::co_spawn(
        pool, [work = std::move(work)]() mutable -> asio::awaitable<Result> { co_return work(); },
        use_awaitable);
}

// A spool file for an upload or a download, removed when the handle goes.
struct SpoolFile {
    std::string path;
    ~SpoolFile() {
        if (!path.empty()) {
            std::remove(path.c_str());
        }
    }
};

std::string spoolPath() {
    char path[] = "/tmp/snipjar-server-upload-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        return {};
    }
    ::close(fd);
    return path;
}

template <typename Stream>
asio::awaitable<void> writeReply(Stream& stream, const Reply& reply, bool keepAlive) {
    if (!reply.downloadPath.empty()) {
        SpoolFile spool{reply.downloadPath};
        http::response<http::file_body> response{http::status::ok, 11};
        beast::error_code ec;
        response.body().open(reply.downloadPath.c_str(), beast::file_mode::scan, ec);
        response.set(http::field::content_type, "application/octet-stream");
        response.keep_alive(keepAlive);
        response.prepare_payload();
        co_await http::async_write(stream, response, use_awaitable);
        co_return;
    }
    http::response<http::string_body> response{static_cast<http::status>(reply.status), 11};
    if (!reply.body.isEmpty()) {
        response.set(http::field::content_type, "application/json");
        response.body() = reply.body.toStdString();
    }
    response.keep_alive(keepAlive);
    response.prepare_payload();
    co_await http::async_write(stream, response, use_awaitable);
}

// One push socket: sends "changed" after each notice of its account while its device exists (checked
// when a device of the account was revoked).
template <typename Stream>
asio::awaitable<void> servePush(Stream stream, http::request<http::empty_body> request, Caller caller,
                                Context context) {
    beast::get_lowest_layer(stream).expires_never();
    websocket::stream<Stream> socket(std::move(stream));
    socket.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    co_await socket.async_accept(request, use_awaitable);
    auto executor = co_await asio::this_coro::executor;
    auto wake = std::make_shared<asio::steady_timer>(executor, asio::steady_timer::time_point::max());
    auto pending = std::make_shared<bool>(false);
    auto checkDevice = std::make_shared<bool>(false);
    auto closed = std::make_shared<bool>(false);
    const auto registration =
        context.hub.add(caller.account, [executor, wake, pending, checkDevice](bool check) {
            asio::post(executor, [wake, pending, checkDevice, check] {
                *pending = true;
                *checkDevice = *checkDevice || check;
                wake->cancel();
            });
        });
    if (!registration) {
        beast::error_code refused;
        co_await socket.async_close(
            websocket::close_reason(websocket::close_code::try_again_later, "too many sockets"),
            asio::redirect_error(use_awaitable, refused));
        co_return;
    }
    // The reader notices the peer going away (and answers its pings) while the writer waits.
    asio::co_spawn(
        executor,
        [&socket, wake, closed]() -> asio::awaitable<void> {
            beast::flat_buffer buffer;
            beast::error_code ec;
            while (!ec) {
                co_await socket.async_read(buffer, asio::redirect_error(use_awaitable, ec));
                buffer.clear();
            }
            *closed = true;
            wake->cancel();
        },
        asio::detached);
    beast::error_code ec;
    while (!*closed) {
        if (!*pending) {
            co_await wake->async_wait(asio::redirect_error(use_awaitable, ec));
            continue;
        }
        *pending = false;
        Service& service = context.service;
        const bool alive =
            !std::exchange(*checkDevice, false) || co_await offload(context.database, [&service, caller] {
                try {
                    return service.deviceAlive(caller);
                } catch (const std::exception&) {
                    return true;
                }
            });
        if (!alive) {
            co_await socket.async_close(
                websocket::close_reason(websocket::close_code::policy_error, "device revoked"),
                asio::redirect_error(use_awaitable, ec));
            break;
        }
        co_await socket.async_write(asio::buffer(std::string_view("changed")),
                                    asio::redirect_error(use_awaitable, ec));
        if (ec) {
            break;
        }
    }
    // The reader holds a reference to the socket: wait until it ended.
    while (!*closed) {
        beast::get_lowest_layer(socket).socket().close(ec);
        asio::steady_timer pause(executor, std::chrono::milliseconds(10));
        co_await pause.async_wait(asio::redirect_error(use_awaitable, ec));
    }
}

template <typename Stream>
asio::awaitable<void> serveRequests(Stream stream, std::string address, Context context) {
    beast::flat_buffer buffer;
    const auto& limits = context.service.limits();
    for (;;) {
        beast::get_lowest_layer(stream).expires_after(idleTimeout);
        http::request_parser<http::empty_body> header;
        header.header_limit(16 * 1024);
        // The body's limit depends on the call; it is checked below, once the header is known.
        header.body_limit(std::numeric_limits<std::uint64_t>::max());
        co_await http::async_read_header(stream, buffer, header, use_awaitable);
        Request request;
        request.method = std::string(header.get().method_string());
        request.target = std::string(header.get().target());
        request.authorization = std::string(header.get()[http::field::authorization]);
        request.address = address;
        const bool keepAlive = header.get().keep_alive();
        if (websocket::is_upgrade(header.get()) && request.target == "/v1/push") {
            Service& service = context.service;
            const auto caller =
                co_await offload(context.database, [&service, &request]() -> std::optional<Caller> {
                    try {
                        return service.authenticate(request.authorization);
                    } catch (const std::exception&) {
                        return std::nullopt;
                    }
                });
            if (!caller) {
                co_await writeReply(
                    stream, errorReply(ErrorCode::notAuthenticated, "the device token is not valid"), false);
                co_return;
            }
            co_await servePush(std::move(stream), header.release(), *caller, context);
            co_return;
        }
        beast::error_code ec;
        // A body over the limit is read and dropped (up to a bound) before the refusal, so that a
        // client still sending it reads the answer instead of a reset connection.
        const bool isUpload = request.method == "POST" && request.target == "/v1/assets";
        // The account's encryption and pairing calls carry a few kilobytes at most.
        const bool isSmall = request.target.compare(0, 12, "/v1/pairing/") == 0 ||
                             request.target.compare(0, 12, "/v1/account/") == 0;
        const auto limit = static_cast<std::uint64_t>(isUpload  ? limits.maxAssetBytes
                                                      : isSmall ? smallRequestBytes
                                                                : limits.maxRequestBytes);
        if (const auto length = header.content_length(); length && *length > limit) {
            std::uint64_t remaining = *length;
            const auto buffered = std::min<std::uint64_t>(buffer.size(), remaining);
            buffer.consume(buffered);
            remaining -= buffered;
            if (remaining <= std::max<std::uint64_t>(4 * limit, 64 * 1024 * 1024)) {
                std::vector<char> sink(64 * 1024);
                while (remaining > 0 && !ec) {
                    remaining -= co_await stream.async_read_some(
                        asio::buffer(sink.data(), std::min<std::uint64_t>(sink.size(), remaining)),
                        asio::redirect_error(use_awaitable, ec));
                }
            }
            co_await writeReply(stream, errorReply(ErrorCode::limitExceeded, "the request is too large"),
                                false);
            co_return;
        }
        SpoolFile upload;
        if (isUpload) {
            upload.path = spoolPath();
            http::request_parser<http::file_body> parser(std::move(header));
            parser.body_limit(limit);
            parser.get().body().open(upload.path.c_str(), beast::file_mode::write, ec);
            if (!ec) {
                co_await http::async_read(stream, buffer, parser, asio::redirect_error(use_awaitable, ec));
            }
            request.uploadPath = upload.path;
            parser.get().body().close();
            std::error_code sizeError;
            request.uploadSize =
                static_cast<std::int64_t>(std::filesystem::file_size(upload.path, sizeError));
        } else {
            http::request_parser<http::string_body> parser(std::move(header));
            parser.body_limit(limit);
            co_await http::async_read(stream, buffer, parser, asio::redirect_error(use_awaitable, ec));
            request.body = QByteArray::fromStdString(parser.get().body());
        }
        if (ec == http::error::body_limit) {
            co_await writeReply(stream, errorReply(ErrorCode::limitExceeded, "the request is too large"),
                                false);
            co_return;
        }
        if (ec) {
            co_return;
        }
        Service& service = context.service;
        Reply reply =
            co_await offload(context.database, [&service, &request] { return service.handle(request); });
        // A mailbox read that may wait asks again when the account's mailboxes change on any
        // process, or every two seconds, so that no database thread is held while it waits.
        while (reply.waitAccount != 0) {
            auto executor = co_await asio::this_coro::executor;
            auto wake = std::make_shared<asio::steady_timer>(
                executor,
                std::min(reply.waitUntil, std::chrono::steady_clock::now() + std::chrono::seconds(2)));
            const auto registration = context.hub.awaitMailboxes(reply.waitAccount, [executor, wake](bool) {
                asio::post(executor, [wake] { wake->cancel(); });
            });
            co_await wake->async_wait(asio::redirect_error(use_awaitable, ec));
            ec = {};
            reply =
                co_await offload(context.database, [&service, &request] { return service.handle(request); });
        }
        co_await writeReply(stream, reply, keepAlive);
        if (!keepAlive) {
            co_return;
        }
    }
}

asio::awaitable<void> serveConnection(tcp::socket socket, asio::ssl::context* tls, Context context) {
    beast::error_code ignored;
    const std::string address = socket.remote_endpoint(ignored).address().to_string();
    try {
        if (tls == nullptr) {
            co_await serveRequests(beast::tcp_stream(std::move(socket)), address, context);
        } else {
            beast::ssl_stream<beast::tcp_stream> stream(beast::tcp_stream(std::move(socket)), *tls);
            beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(30));
            co_await stream.async_handshake(asio::ssl::stream_base::server, use_awaitable);
            co_await serveRequests(std::move(stream), address, context);
        }
    } catch (const std::exception&) {
        // The peer went away, timed out or spoke something else: the connection ends.
    }
}

asio::awaitable<void> acceptConnections(tcp::acceptor& acceptor, asio::io_context& io,
                                        asio::ssl::context* tls, Context context, int maxConnections) {
    auto open = std::make_shared<std::atomic<int>>(0);
    bool warned = false;
    for (;;) {
        beast::error_code ec;
        tcp::socket socket =
            co_await acceptor.async_accept(asio::make_strand(io), asio::redirect_error(use_awaitable, ec));
        if (ec == asio::error::operation_aborted) {
            co_return;
        }
        if (ec) {
            continue;
        }
        if (open->load() >= maxConnections) {
            // Closed before a byte is read: the client sees the connection drop and tries later.
            if (!std::exchange(warned, true)) {
                std::cerr << "refusing connections: " << maxConnections << " are open\n";
            }
            socket.close(ec);
            continue;
        }
        warned = false;
        ++*open;
        auto executor = socket.get_executor();
        asio::co_spawn(executor, serveConnection(std::move(socket), tls, context),
                       [open](std::exception_ptr) { --*open; });
    }
}

} // namespace

int serveHttp(const ListenOptions& options, Service& service, PushHub& hub) {
    beast::error_code ec;
    const auto address = asio::ip::make_address(options.address, ec);
    if (ec) {
        std::cerr << "not an address: " << options.address << '\n';
        return 2;
    }
    const bool plain = options.certificateFile.empty();
    if (plain && !address.is_loopback()) {
        std::cerr << "refusing to listen on " << options.address
                  << " without a certificate: off the loopback address, clients need TLS\n";
        return 2;
    }
    std::unique_ptr<asio::ssl::context> tls;
    if (!plain) {
        tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                         asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                         asio::ssl::context::no_tlsv1_1);
        tls->use_certificate_chain_file(options.certificateFile, ec);
        if (!ec) {
            tls->use_private_key_file(options.keyFile, asio::ssl::context::pem, ec);
        }
        if (ec) {
            std::cerr << "cannot use the certificate: " << ec.message() << '\n';
            return 2;
        }
    }
    // Every connection is a file descriptor: take as many as the system allows, keep some for the
    // database connections and files, and never accept more connections than that.
    int maxConnections = options.maxConnections;
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        ::getrlimit(RLIMIT_NOFILE, &files);
        if (files.rlim_cur != RLIM_INFINITY) {
            maxConnections = std::min<rlim_t>(maxConnections, std::max<rlim_t>(files.rlim_cur, 128) - 64);
        }
    }
    asio::io_context io;
    tcp::acceptor acceptor(io);
    const tcp::endpoint endpoint(address, options.port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) {
        acceptor.set_option(asio::socket_base::reuse_address(true), ec);
        acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        std::cerr << "cannot listen on " << options.address << ':' << options.port << ": " << ec.message()
                  << '\n';
        return 1;
    }
    asio::thread_pool database(static_cast<size_t>(options.databaseThreads));
    Context context{service, hub, database};
    hub.start();
    asio::co_spawn(io, acceptConnections(acceptor, io, tls.get(), context, maxConnections), asio::detached);
    asio::signal_set stopSignals(io, SIGINT, SIGTERM);
    stopSignals.async_wait([&](const beast::error_code&, int) { io.stop(); });
    std::cout << "listening on " << acceptor.local_endpoint().address().to_string() << ':'
              << acceptor.local_endpoint().port() << std::endl;
    std::vector<std::thread> threads;
    for (int i = 1; i < options.ioThreads; ++i) {
        threads.emplace_back([&io] { io.run(); });
    }
    io.run();
    for (auto& thread : threads) {
        thread.join();
    }
    hub.stop();
    database.join();
    return 0;
}

} // namespace snipjar::server
