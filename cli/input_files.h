#pragma once
// What the commands do with the files they are given: folders expand to the
// raw files in them, every input is checked for being readable (with the
// system's reason when it is not), standard input becomes a temporary file,
// and no output may be one of the inputs.
#include <sys/types.h>

#include <string>
#include <vector>

namespace ostel::cli {

// One file to work on; `problem` set: it fails with that reason.
struct InputFile {
    std::string path;     // as given or found ("-" for standard input)
    std::string problem;
};

// Inputs as the user gave them: a folder stands for the raw files directly
// in it (and in its subfolders with `recursive`), by name order; a folder
// with none is a failed item. Missing and unreadable paths stay as items
// with their reason.
std::vector<InputFile> expand_inputs(const std::vector<std::string>& args, bool recursive);

// Empty when `path` is a readable file, else the reason ("No such file or
// directory", "Permission denied", "Is a directory").
std::string unreadable_reason(const std::string& path);

// What a file refused as "Wrong file header" is, when that is known: "an
// empty file", "a JPEG image", ... or "a format this program does not read".
std::string refused_file_kind(const std::string& path);

// The name's extension in lower case, without the dot ("" for none).
std::string lower_extension(const std::string& path);

// Whether the name ends in an extension of a raw format this program reads.
bool has_raw_extension(const std::string& path);

// The identity of a file on its disk (device and inode), which the same file
// reached through "..", symbolic or hard links shares.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};
// False when the path does not name an existing file.
bool file_identity(const std::string& path, FileIdentity& id);

// Keeps a set of input identities and tells whether an output path would
// land on one of them.
class InputGuard {
public:
    void add(const std::string& input);
    bool is_input(const std::string& output) const;

private:
    std::vector<FileIdentity> inputs_;
};

// Empty when `output` may be written for `input`, else why not: it is the
// input file itself, or it exists and `overwrite` is off.
std::string output_refusal(const std::string& input, const std::string& output, bool overwrite);

// Standard input copied into a temporary file that the loaders can open by
// name; removed again when this goes.
class StandardInputCopy {
public:
    StandardInputCopy() = default;
    StandardInputCopy(const StandardInputCopy&) = delete;
    StandardInputCopy& operator=(const StandardInputCopy&) = delete;
    ~StandardInputCopy();
    // False with `error` set when standard input cannot be read or copied.
    bool make(std::string& error);
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace ostel::cli
