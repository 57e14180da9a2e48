#include "file_service.h"

#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "form_reader.h"
#include "safe_name.h"

namespace fs = std::filesystem;

namespace {

constexpr char kServiceTag[] = "kivStuff";
constexpr std::size_t kSendPiece = std::size_t{64} * 1024;
constexpr char kTokenNeeded[] =
    "ERROR this service needs its token (?token=... or Authorization: Bearer ...)";

std::string Field(const ReceivedForm& form, const std::string& name) {
    auto found = form.fields.find(name);
    return found != form.fields.end() ? found->second : std::string();
}

void Answer(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text, "text/plain");
}

// A quoted-string for a header parameter (the name holds no control characters).
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// Reads a body to its end and drops it, so that a refusal reaches a client that is still
// sending instead of a connection reset. Nothing of it is kept in memory.
void DiscardBody(const httplib::Request& request, const httplib::ContentReader& reader) {
    auto ignore = [](const char*, std::size_t) { return true; };
    if (request.is_multipart_form_data()) {
        reader([](const httplib::MultipartFormData&) { return true; }, ignore);
    } else {
        reader(ignore);
    }
}

// A chunked or compressed body could not be bounded by its length before it is read.
bool HasPlainBody(const httplib::Request& request) {
    const std::string encoding = request.get_header_value("Content-Encoding");
    return !request.has_header("Transfer-Encoding") && (encoding.empty() || encoding == "identity");
}

}  // namespace

FileService::FileService(fs::path root, const ServiceLimits& limits, AccessToken token)
    : root_(std::move(root)),
      limits_(limits),
      token_(std::move(token)),
      quota_(root_, limits.sessions, limits.diskBytes) {}

void FileService::Register(httplib::Server& server) {
    // For any body the server would read by itself.
    server.set_payload_max_length(limits_.requestBytes);
    // One request per connection: a worker thread waits with each idle kept connection, so
    // clients that keep theirs (as keep-alive clients do) would soon hold every worker.
    server.set_keep_alive_max_count(1);
    // Runs before any body is read: only a POST carries a form, and anything else is answered
    // from its headers alone.
    server.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            if (request.method == "POST") return httplib::Server::HandlerResponse::Unhandled;
            if (!token_.Admits(request)) {
                Answer(response, 403, kTokenNeeded);
            } else {
                Answer(response, 400, "ERROR the file service takes POST requests only");
            }
            return httplib::Server::HandlerResponse::Handled;
        });
    server.Post(
        ".*", [this](const httplib::Request& request, httplib::Response& response,
                     const httplib::ContentReader& reader) { Handle(request, response, reader); });
    // A POST without a body.
    server.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
        if (!token_.Admits(request)) return Answer(response, 403, kTokenNeeded);
        Answer(response, 400, "ERROR expected a form (urlencoded or multipart)");
    });
}

void FileService::Handle(const httplib::Request& request, httplib::Response& response,
                         const httplib::ContentReader& reader) {
    const bool plainBody = HasPlainBody(request);
    if (!token_.Admits(request)) {
        if (plainBody) DiscardBody(request, reader);
        return Answer(response, 403, kTokenNeeded);
    }
    if (request.has_header("Transfer-Encoding")) {
        return Answer(response, 411, "ERROR a request body needs a Content-Length");
    }
    if (!plainBody) return Answer(response, 415, "ERROR request bodies are taken uncompressed");
    if (request.get_header_value<std::uint64_t>("Content-Length") > limits_.requestBytes) {
        DiscardBody(request, reader);
        return Answer(
            response, 413,
            "ERROR the request is larger than " + std::to_string(limits_.requestBytes) + " bytes");
    }

    // Files are staged in the root, where clients cannot name anything: only session folders
    // live there, so no upload can collide with a file being received.
    ReceivedForm form = ReadForm(request, reader, limits_, quota_);
    if (!form.error.empty()) return Answer(response, form.status, form.error);

    const std::string act = Field(form, "act");
    if (act == "fetch") return SendFile(form, true, response);
    if (act != "download" && act != "upload") {
        return Answer(response, 400, "ERROR unknown act '" + act + "'");
    }
    if (Field(form, "x") != kServiceTag) {
        return Answer(response, 400, "ERROR x must be kivStuff");
    }
    if (act == "download") return SendFile(form, false, response);
    Upload(form, response);
}

void FileService::Upload(ReceivedForm& form, httplib::Response& response) {
    const std::string session = Field(form, "session_id");
    if (!IsSafeName(session)) return Answer(response, 400, "ERROR bad session_id");
    if (Field(form, "file_num") != "1") return Answer(response, 400, "ERROR file_num must be 1");
    if (!form.file || form.fileField != "file1") {
        return Answer(response, 400, "ERROR file1 missing");
    }
    const std::string name = BaseName(form.fileName);
    if (!IsSafeName(name)) return Answer(response, 400, "ERROR bad file name");

    const StorageQuota::Opening opening = quota_.OpenSession(session);
    if (opening == StorageQuota::Opening::TooMany) {
        return Answer(response, 507, "ERROR the service holds no more sessions");
    }
    if (opening != StorageQuota::Opening::Open || !form.file->Commit(root_ / session / name)) {
        return Answer(response, 500, "ERROR cannot store the file");
    }
    Answer(response, 200, "OK");
}

void FileService::SendFile(const ReceivedForm& form, bool asAttachment,
                           httplib::Response& response) const {
    const std::string session = Field(form, "session_id");
    const std::string name = Field(form, "filename");
    if (!IsSafeName(session)) return Answer(response, 400, "ERROR bad session_id");
    if (!IsSafeName(name)) return Answer(response, 400, "ERROR bad filename");

    const fs::path path = root_ / session / name;
    std::error_code error;
    auto file = std::make_shared<std::ifstream>();
    if (fs::is_regular_file(path, error)) file->open(path, std::ios::binary);
    if (!file->is_open()) return Answer(response, 404, "no such file");

    // The size of what was opened: an upload that replaces the file meanwhile does not
    // change the bytes being sent.
    file->seekg(0, std::ios::end);
    const auto size = static_cast<std::size_t>(file->tellg());
    file->seekg(0);
    if (asAttachment) {
        response.set_header("Content-Disposition", "attachment; filename=" + Quoted(name));
    }
    response.status = 200;
    response.set_content_provider(
        size, "application/octet-stream",
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            std::vector<char> piece(std::min(length, kSendPiece));
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(piece.data(), static_cast<std::streamsize>(piece.size()));
            if (file->gcount() <= 0) return false;
            return sink.write(piece.data(), static_cast<std::size_t>(file->gcount()));
        });
}
