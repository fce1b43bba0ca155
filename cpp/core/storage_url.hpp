// Cutting of output locations: GitHub web URLs of a branch directory and S3
// locations in their virtual-hosted, path-style and "s3://" forms. Text is a
// sequence of code points, exactly as the interpreter holds it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vb::core {

// Ends in ".docx" or ".md" (exact and case-sensitive).
bool names_report_file(const std::u32string &text);

// The piece after the last "/" (the whole text when it holds none).
std::u32string last_component(const std::u32string &text);

std::u32string strip_trailing_slashes(const std::u32string &text);

// https://<host>/<owner>/<repo>/tree/<branch>/<directory or file>

// "<owner>/<repo>": the pieces 3 and 4 of the URL split at every "/"; nothing
// when the URL has fewer pieces.
std::optional<std::u32string> repo_full_name(const std::u32string &url);

// The text after the first "/tree/"; nothing when the URL holds none.
std::optional<std::u32string> branch_text(const std::u32string &url);

struct BranchMatch {
    std::u32string name;
    // Found by dropping leading pieces (the text ends in the branch name).
    bool from_left;
};

// The branch that `text` (the text after "/tree/") names: its longest prefix
// ending before a "/" that is a branch, else its longest suffix starting after
// a "/" that is one. Branch names may contain "/".
std::optional<BranchMatch> find_branch(const std::u32string &text,
                                       const std::vector<std::u32string> &branches);

// The directory inside the branch: the text after "/tree/<branch>/", without
// the file name when the URL ends in one and without trailing "/"; empty (the
// top of the branch) when the URL ends in "/tree/<branch>" or when the text
// after "/tree/" ends in "/<branch>". Nothing when the URL has no "/tree/" or
// the branch is not named there.
std::optional<std::u32string> branch_directory(const std::u32string &url,
                                               const std::u32string &branch);

// S3 locations.

// "s3://" + bucket + path for a virtual-hosted URL whose network location is
// bucket + "." + host (the bucket is the network location up to its first
// ".s3" when it does not end in "." + host).
std::u32string virtual_hosted_uri(const std::u32string &netloc, const std::u32string &path,
                                  const std::u32string &host);

// "s3://" + bucket + "/" + key for the path "/<bucket>/<key>" of a path-style
// URL (the key may be empty or missing); nothing when the path has no "/".
std::optional<std::u32string> path_style_uri(const std::u32string &path);

struct BucketKey {
    std::u32string bucket;
    // The directory part: empty when the URI ends right after the bucket.
    std::u32string key;
};

// "s3://<bucket>/<key>" split at its first three "/"; nothing when it has
// fewer than two.
std::optional<BucketKey> split_bucket_uri(const std::u32string &uri);

}  // namespace vb::core
