// gfpdb serve: the device editor page and its JSON API on 127.0.0.1, for this user only.
#include <spawn.h>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <random>
#include <thread>

#include <httplib.h>

#include "cli/gfpdb_serve_api.h"
#include "cli/gfpdb_serve_page.h"

extern char** environ;

namespace gfpdb_cli {
namespace {

const char* const loopback = "127.0.0.1";
// Larger than any device with both flows written out, small enough to refuse floods.
constexpr size_t MAX_BODY = 256 * 1024;

// One row per route: method, path pattern (captures become API_REQUEST::path) and handler.
enum METHOD { GET, POST, PUT, DELETE };
struct ROUTE {
    METHOD method;
    const char* pattern;
    API_REPLY (API::*handler)(const API_REQUEST&);
};
const ROUTE routes[] = {
    {GET, "/api/families", &API::families},
    {GET, "/api/vocabulary", &API::vocabulary},
    {GET, "/api/devices", &API::devices},
    {GET, "/api/devices/([^/]+)", &API::device},
    {POST, "/api/devices", &API::create_device},
    {PUT, "/api/devices/([^/]+)", &API::save_device},
    {DELETE, "/api/devices/([^/]+)", &API::delete_device},
    {GET, "/api/templates", &API::templates},
    {GET, "/api/templates/([^/]+)", &API::template_flows},
    {POST, "/api/templates", &API::create_template},
    {PUT, "/api/templates/([^/]+)", &API::save_template},
    {DELETE, "/api/templates/([^/]+)", &API::delete_template},
    {POST, "/api/validate", &API::validate},
    {POST, "/api/lint", &API::lint},
};

std::string random_token() {
    std::random_device source;
    std::string token;
    const char* const digits = "0123456789abcdef";
    for (int i = 0; i < 32; ++i)
        token += digits[source() % 16];
    return token;
}

// Only names of this machine's loopback: a page of another site that a DNS record points at
// 127.0.0.1 sends its own host name.
bool host_is_loopback(const std::string& host, int port) {
    const std::string suffix = ":" + std::to_string(port);
    for (const char* name : {"127.0.0.1", "localhost"})
        if (host == name || host == name + suffix)
            return true;
    return false;
}

// Comparison whose time does not depend on where the texts differ.
bool same_secret(const std::string& given, const std::string& secret) {
    unsigned char difference = given.size() == secret.size() ? 0 : 1;
    for (size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(secret[i] ^ (i < given.size() ? given[i] : 0));
    return difference == 0;
}

void send(httplib::Response& response, const API_REPLY& reply) {
    response.status = reply.status;
    response.set_content(reply.body.dump(-1, ' ', false, JSON::error_handler_t::replace),
                         "application/json");
}

void open_browser(const std::string& url) {
    const char* argv[] = {"xdg-open", url.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv),
                     environ) != 0)
        print_error("could not start xdg-open; open " + url + " yourself");
}
}  // namespace

int run_serve(SESSION& session) {
    // Signals go to one thread that stops the server, so that it ends as after any request.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);

    httplib::Server server;
    API api(session);
    std::mutex library;  // the library is used from one thread at a time
    const std::string token = random_token();
    int port = 0;

    server.set_payload_max_length(MAX_BODY);
    server.set_pre_routing_handler([&](const httplib::Request& request,
                                       httplib::Response& response) {
        if (!host_is_loopback(request.get_header_value("Host"), port)) {
            send(response, API::refuse(403, "The Host header must name 127.0.0.1 or localhost."));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.path.rfind("/api/", 0) == 0 &&
            !same_secret(request.get_header_value("Authorization"), "Bearer " + token)) {
            send(response, API::refuse(401, "The request needs the token this server printed."));
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Refusals of the server itself (no route, body too large) in the API's own shape.
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty())
            return;
        const std::string reason = response.status == 413   ? "The request body is too large."
                                   : response.status == 404 ? "No such page or API."
                                                            : "The request was refused.";
        send(response, API::refuse(response.status, reason));
    });
    server.set_default_headers({{"Cache-Control", "no-store"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"X-Frame-Options", "DENY"}});

    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(reinterpret_cast<const char*>(gfpdb_serve_page),
                             sizeof gfpdb_serve_page, "text/html; charset=utf-8");
        response.set_header("Content-Security-Policy",
                            "default-src 'none'; script-src 'unsafe-inline'; style-src "
                            "'unsafe-inline'; img-src data:; connect-src 'self'");
    });
    for (const ROUTE& route : routes) {
        const auto handle = [&api, &library, &route](const httplib::Request& request,
                                                     httplib::Response& response) {
            API_REQUEST call;
            for (size_t i = 1; i < request.matches.size(); ++i)
                call.path.push_back(request.matches[i]);
            for (const auto& [key, value] : request.params)
                call.query[key] = value;
            if (!request.body.empty()) {
                call.body = JSON::parse(request.body, nullptr, false);
                if (call.body.is_discarded()) {
                    send(response, API::refuse(400, "The request body is not JSON."));
                    return;
                }
            }
            const std::lock_guard<std::mutex> lock(library);
            api.begin();
            const API_REPLY reply = (api.*route.handler)(call);
            api.end();
            send(response, reply);
        };
        switch (route.method) {
            case GET:
                server.Get(route.pattern, handle);
                break;
            case POST:
                server.Post(route.pattern, handle);
                break;
            case PUT:
                server.Put(route.pattern, handle);
                break;
            case DELETE:
                server.Delete(route.pattern, handle);
                break;
        }
    }

    port = session.options.port
               ? (server.bind_to_port(loopback, session.options.port) ? session.options.port : -1)
               : server.bind_to_any_port(loopback);
    if (port <= 0) {
        print_error("could not listen on " + std::string(loopback) +
                    (session.options.port ? ":" + std::to_string(session.options.port) : ""));
        return EXIT_REJECTED;
    }
    // The managers load before the address is shown, so the first page comes at once.
    session.qspi_manager();
    const std::string url =
        "http://" + std::string(loopback) + ":" + std::to_string(port) + "/#token=" + token;
    std::cout << "gfpdb serve: open " << url << "\nPress Ctrl-C to stop." << std::endl;
    if (session.options.open)
        open_browser(url);

    std::thread stopper([&server, &stopping] {
        int signal = 0;
        sigwait(&stopping, &signal);
        server.stop();
    });
    server.listen_after_bind();
    // listen_after_bind also ends on its own failure: wake the stopper so it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    std::cout << "gfpdb serve: stopped" << std::endl;
    return EXIT_OK;
}

}  // namespace gfpdb_cli
