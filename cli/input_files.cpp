#include "cli/input_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "export/output_file.h"

namespace ostel::cli {

namespace {

namespace fs = std::filesystem;

// Extensions of the raw formats that identification accepts.
constexpr std::string_view kRawExtensions[] = {
    "3fr", "arw", "bay", "cap", "cine", "cr2", "crw", "cs1", "dc2", "dcr", "dng", "erf", "fff", "iiq", "k25",
    "kdc", "mdc", "mef", "mos", "mrw", "nef", "nrw", "orf", "pef", "ptx", "pxn", "qtk", "raf", "raw", "rdc",
    "rw2", "rwl", "rwz", "sr2", "srf", "srw", "sti", "x3f",
};

void collect_folder(const fs::path& folder, bool recursive, std::vector<std::string>& found, std::string& problem) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        problem = ec.message();
        return;
    }
    std::vector<fs::path> files, folders;
    // Stepped with an error code: a folder that turns unreadable midway
    // ends the listing instead of throwing.
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        // Hidden names include the temporary files of outputs being written.
        if (name.empty() || name[0] == '.') continue;
        std::error_code kind_error;
        if (entry.is_directory(kind_error)) {
            if (recursive && !entry.is_symlink(kind_error)) folders.push_back(entry.path());
        } else if (has_raw_extension(name)) {
            files.push_back(entry.path());
        }
    }
    if (ec) problem = ec.message();
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const fs::path& f : files) found.push_back(f.string());
    for (const fs::path& sub : folders) {
        std::string ignored;
        collect_folder(sub, recursive, found, ignored);
    }
}

}  // namespace

std::string lower_extension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

bool has_raw_extension(const std::string& path) {
    const std::string ext = lower_extension(path);
    return std::find(std::begin(kRawExtensions), std::end(kRawExtensions), ext) != std::end(kRawExtensions);
}

std::string unreadable_reason(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return exporting::system_reason(errno);
    struct stat st {};
    std::string reason;
    if (::fstat(fd, &st) != 0) reason = exporting::system_reason(errno);
    else if (S_ISDIR(st.st_mode)) reason = exporting::system_reason(EISDIR);
    ::close(fd);
    return reason;
}

std::vector<InputFile> expand_inputs(const std::vector<std::string>& args, bool recursive) {
    std::vector<InputFile> inputs;
    for (const std::string& arg : args) {
        std::error_code ec;
        if (arg != "-" && fs::is_directory(arg, ec)) {
            std::vector<std::string> found;
            std::string problem;
            collect_folder(arg, recursive, found, problem);
            if (!problem.empty()) inputs.push_back({arg, problem});
            else if (found.empty()) inputs.push_back({arg, "no raw files in this folder"});
            for (std::string& f : found) inputs.push_back({f, unreadable_reason(f)});
            continue;
        }
        inputs.push_back({arg, arg == "-" ? std::string() : unreadable_reason(arg)});
    }
    return inputs;
}

std::string refused_file_kind(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::array<unsigned char, 16> head{};
    ssize_t n;
    do n = ::read(fd, head.data(), head.size());
    while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0) return {};
    const auto starts = [&](std::string_view magic) {
        return size_t(n) >= magic.size() && std::memcmp(head.data(), magic.data(), magic.size()) == 0;
    };
    if (n == 0) return "an empty file";
    if (starts("\xFF\xD8\xFF")) return "a JPEG image, not a raw file";
    if (starts("\x89PNG\r\n\x1A\n")) return "a PNG image, not a raw file";
    if (starts("GIF8")) return "a GIF image, not a raw file";
    if (starts("%PDF")) return "a PDF document, not a raw file";
    if (n >= 12 && std::memcmp(head.data() + 4, "ftyp", 4) == 0) return "a format this program does not read (ISO media)";
    return "a format this program does not read";
}

bool file_identity(const std::string& path, FileIdentity& id) {
    struct stat st {};
    if (path == "-" || ::stat(path.c_str(), &st) != 0) return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

void InputGuard::add(const std::string& input) {
    FileIdentity id;
    if (file_identity(input, id)) inputs_.push_back(id);
}

bool InputGuard::is_input(const std::string& output) const {
    FileIdentity id;
    return file_identity(output, id) && std::find(inputs_.begin(), inputs_.end(), id) != inputs_.end();
}

// The checks every command that writes a file makes before any work: the
// output is not an input, and an existing file is replaced only when asked.
std::string output_refusal(const std::string& input, const std::string& output, bool overwrite) {
    if (output == "-") return {};
    InputGuard guard;
    guard.add(input);
    if (guard.is_input(output)) return output + " is the input file; not written";
    std::error_code ec;
    if (!overwrite && fs::symlink_status(output, ec).type() != fs::file_type::not_found)
        return output + " exists; not replaced (-y replaces it)";
    return {};
}

StandardInputCopy::~StandardInputCopy() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

bool StandardInputCopy::make(std::string& error) {
    std::error_code ec;
    const fs::path folder = fs::temp_directory_path(ec);
    std::string name = ((ec ? fs::path("/tmp") : folder) / "ostelraw-stdin-XXXXXX").string();
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back(0);
    const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot copy standard input: ") + exporting::system_reason(errno);
        return false;
    }
    path_ = buffer.data();
    std::vector<char> chunk(1 << 16);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("cannot read standard input: ") + exporting::system_reason(errno);
            ok = false;
            break;
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(fd, chunk.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) {
                error = std::string("cannot copy standard input: ") + exporting::system_reason(errno);
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    if (::close(fd) != 0 && ok) {
        error = std::string("cannot copy standard input: ") + exporting::system_reason(errno);
        ok = false;
    }
    return ok;
}

}  // namespace ostel::cli
