#include "storage_url.hpp"

#include <unordered_set>

namespace vb::core {
namespace {

constexpr char32_t kSlash = U'/';

bool starts_with(const std::u32string &text, const std::u32string &prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::u32string &text, const std::u32string &suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// text.split("/", max_splits) (all splits when max_splits is negative).
std::vector<std::u32string> split_slashes(const std::u32string &text, int max_splits = -1) {
    std::vector<std::u32string> pieces;
    size_t start = 0;
    while (max_splits < 0 || static_cast<int>(pieces.size()) < max_splits) {
        const size_t at = text.find(kSlash, start);
        if (at == std::u32string::npos) break;
        pieces.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

}  // namespace

bool names_report_file(const std::u32string &text) {
    return ends_with(text, U".docx") || ends_with(text, U".md");
}

std::u32string last_component(const std::u32string &text) {
    const size_t at = text.rfind(kSlash);
    return at == std::u32string::npos ? text : text.substr(at + 1);
}

std::u32string strip_trailing_slashes(const std::u32string &text) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == kSlash) --end;
    return text.substr(0, end);
}

std::optional<std::u32string> repo_full_name(const std::u32string &url) {
    const std::vector<std::u32string> pieces = split_slashes(url, 5);
    if (pieces.size() < 5) return std::nullopt;
    return pieces[3] + U"/" + pieces[4];
}

std::optional<std::u32string> branch_text(const std::u32string &url) {
    static const std::u32string marker = U"/tree/";
    const size_t at = url.find(marker);
    if (at == std::u32string::npos) return std::nullopt;
    return url.substr(at + marker.size());
}

std::optional<BranchMatch> find_branch(const std::u32string &text,
                                       const std::vector<std::u32string> &branches) {
    const std::unordered_set<std::u32string> names(branches.begin(), branches.end());
    for (std::u32string candidate = text;;) {
        if (names.count(candidate)) return BranchMatch{candidate, false};
        const size_t at = candidate.rfind(kSlash);
        if (at == std::u32string::npos) break;
        candidate.resize(at);
    }
    for (std::u32string candidate = text;;) {
        if (names.count(candidate)) return BranchMatch{candidate, true};
        const size_t at = candidate.find(kSlash);
        if (at == std::u32string::npos) break;
        candidate.erase(0, at + 1);
    }
    return std::nullopt;
}

std::optional<std::u32string> branch_directory(const std::u32string &url,
                                               const std::u32string &branch) {
    const std::optional<std::u32string> text = branch_text(url);
    if (!text) return std::nullopt;
    std::u32string directory;
    if (starts_with(*text, branch) &&
        (text->size() == branch.size() || (*text)[branch.size()] == kSlash)) {
        directory = text->substr(std::min(text->size(), branch.size() + 1));
    } else if (!ends_with(*text, U"/" + branch)) {
        return std::nullopt;
    }
    if (names_report_file(url)) {
        const size_t at = directory.rfind(kSlash);
        directory.resize(at == std::u32string::npos ? 0 : at);
    }
    return strip_trailing_slashes(directory);
}

std::u32string virtual_hosted_uri(const std::u32string &netloc, const std::u32string &path,
                                  const std::u32string &host) {
    const std::u32string host_suffix = U"." + host;
    std::u32string bucket;
    if (ends_with(netloc, host_suffix)) {
        bucket = netloc.substr(0, netloc.size() - host_suffix.size());
    } else {
        bucket = netloc.substr(0, netloc.find(U".s3"));
    }
    return U"s3://" + bucket + path;
}

std::optional<std::u32string> path_style_uri(const std::u32string &path) {
    const std::vector<std::u32string> pieces = split_slashes(path, 2);
    if (pieces.size() < 2) return std::nullopt;
    return U"s3://" + pieces[1] + U"/" + (pieces.size() > 2 ? pieces[2] : U"");
}

std::optional<BucketKey> split_bucket_uri(const std::u32string &uri) {
    const std::vector<std::u32string> pieces = split_slashes(uri, 3);
    if (pieces.size() < 3) return std::nullopt;
    return BucketKey{pieces[2], pieces.size() > 3 ? pieces[3] : U""};
}

}  // namespace vb::core
