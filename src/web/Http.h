#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

// Plain request and response records between the HTTP layer and the pages, so that the pages
// never see the HTTP library.
namespace web {

struct Request {
    std::string method;                         // GET, POST, …
    std::string path;                           // the target without its query
    std::map<std::string, std::string> query;   // decoded
    std::map<std::string, std::string> form;    // a decoded urlencoded body
    std::map<std::string, std::string> cookies; // by name
    std::string peer;                           // the client's address
    bool script = false;                        // sent by the page's script (X-Morv: 1)
};

struct Response {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; // Set-Cookie, Location, …
};

// One request waiting for the engine, and what to do with the response.
struct Exchange {
    Request request;
    Response response;
    std::function<void(Response&&)> reply;
};

// Decodes %xx and '+' of a query or form; false on a malformed escape.
bool urlDecode(const std::string& in, std::string& out);
// name=value&… into the map; false when any part is malformed.
bool parseForm(const std::string& text, std::map<std::string, std::string>& out);
// A Cookie header into the map.
void parseCookies(const std::string& header, std::map<std::string, std::string>& out);

} // namespace web
