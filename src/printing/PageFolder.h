#pragma once

// The folder of the page-file printer: the names of its page files, files
// written under a temporary name and published whole, and the clearing up
// after an instance that was killed while it wrote.
//
// A page is a pair, NNNN.png and NNNN.pdf. A half pair moved aside keeps its
// number as NNNN.png.incomplete or NNNN.pdf.incomplete, so no later page
// takes the number. A temporary file is .raitakone-XXXXXX; its writer holds
// an flock on it (and so on the page file it becomes, the same inode) until
// the pair is published, which tells a file in use from one left behind.

#include <QByteArray>

#include <chrono>
#include <optional>
#include <string>

namespace raitakone {

struct PageFileName {
    long long number = 0;
    std::string extension; // "png" or "pdf"
    bool incomplete = false;
};

// NNNN.png, NNNN.pdf (up to 15 digits) and those names with ".incomplete";
// nothing for any other name. The printer writes four digits or more.
std::optional<PageFileName> parsePageFileName(const std::string& name);
std::string pageFilePath(const std::string& dir, long long number, const char* extension);

// The highest number among the folder's page files, halves moved aside
// included; 0 for none. Throws a RuntimeError naming the folder when it
// cannot be read.
long long highestPageNumber(const std::string& dir);

// A fully written and synced file under a temporary name in the folder,
// locked for as long as this object lives and removed again unless it has
// been published under its final name. Throws a RuntimeError naming the
// folder when it cannot be written.
class TempFile {
public:
    TempFile(const std::string& dir, const QByteArray& data);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Gives the file its final name unless that name is taken (then false).
    // The temporary name stays valid, so a taken name can be retried.
    bool publish(const std::string& finalPath);

    // Takes a published name back, after its partner could not be published.
    void withdraw(const std::string& finalPath);

private:
    std::string dir_;
    std::string path_;
    std::string movedTo_;
    int fd_ = -1; // open and locked until the destructor
};

void syncDirectory(const std::string& dir);

inline constexpr char kTempFilePrefix[] = ".raitakone-";

// Removes the folder's temporary files (.raitakone- and six letters or
// digits, regular files) that are older than minimumAge and that no running
// instance holds. Touches nothing else. Returns how many were removed.
int removeStaleTempFiles(const std::string& dir, std::chrono::seconds minimumAge = std::chrono::minutes(1));

} // namespace raitakone
