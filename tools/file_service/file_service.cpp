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

}  // namespace

FileService::FileService(fs::path root) : root_(std::move(root)) {}

void FileService::Register(httplib::Server& server) {
    server.Post(
        ".*", [this](const httplib::Request& request, httplib::Response& response,
                     const httplib::ContentReader& reader) { Handle(request, response, reader); });
    server.Get(".*", [](const httplib::Request&, httplib::Response& response) {
        Answer(response, 400, "ERROR the file service takes POST requests only");
    });
}

void FileService::Handle(const httplib::Request& request, httplib::Response& response,
                         const httplib::ContentReader& reader) const {
    // Files are staged in the root, where clients cannot name anything: only session folders
    // live there, so no upload can collide with a file being received.
    ReceivedForm form = ReadForm(request, reader, root_);
    if (!form.error.empty()) return Answer(response, 400, form.error);

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

void FileService::Upload(ReceivedForm& form, httplib::Response& response) const {
    const std::string session = Field(form, "session_id");
    if (!IsSafeName(session)) return Answer(response, 400, "ERROR bad session_id");
    if (Field(form, "file_num") != "1") return Answer(response, 400, "ERROR file_num must be 1");
    if (!form.file || form.fileField != "file1") {
        return Answer(response, 400, "ERROR file1 missing");
    }
    const std::string name = BaseName(form.fileName);
    if (!IsSafeName(name)) return Answer(response, 400, "ERROR bad file name");

    const fs::path folder = root_ / session;
    std::error_code error;
    fs::create_directory(folder, error);
    if (!fs::is_directory(folder, error) || !form.file->Commit(folder / name)) {
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
