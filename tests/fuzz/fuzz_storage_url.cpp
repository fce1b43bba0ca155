// The URL and path cutters against the Python expressions they stand for,
// written here the plain way (str.split, str.endswith, a linear branch search).
#include "fuzz_input.hpp"
#include "storage_url.hpp"

#include <algorithm>
#include <optional>

using namespace vb::core;
using vb::fuzz::check_equal;
using vb::fuzz::literal;

namespace {

using Text = std::u32string;

bool contains_at(const Text &text, std::size_t at, const Text &part) {
    if (at + part.size() > text.size()) return false;
    for (std::size_t i = 0; i < part.size(); ++i)
        if (text[at + i] != part[i]) return false;
    return true;
}

bool py_endswith(const Text &text, const Text &suffix) {
    return text.size() >= suffix.size() && contains_at(text, text.size() - suffix.size(), suffix);
}

bool py_startswith(const Text &text, const Text &prefix) { return contains_at(text, 0, prefix); }

// text.split(sep, max_splits) for a non-empty sep; all splits when negative.
std::vector<Text> py_split(const Text &text, const Text &sep, long max_splits = -1) {
    std::vector<Text> pieces(1);
    long splits = 0;
    for (std::size_t i = 0; i < text.size();) {
        if ((max_splits < 0 || splits < max_splits) && contains_at(text, i, sep)) {
            pieces.emplace_back();
            ++splits;
            i += sep.size();
        } else {
            pieces.back().push_back(text[i++]);
        }
    }
    return pieces;
}

// "/".join(pieces[:-1]): the text before the last "/" of what was split.
Text py_join_but_last(const std::vector<Text> &pieces) {
    Text joined;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) joined += (i ? U"/" : U"") + pieces[i];
    return joined;
}

Text py_rstrip_slashes(Text text) {
    while (!text.empty() && text.back() == U'/') text.pop_back();
    return text;
}

std::optional<Text> ref_branch_text(const Text &url) {
    std::vector<Text> pieces = py_split(url, U"/tree/", 1);
    if (pieces.size() < 2) return std::nullopt;
    return pieces[1];
}

bool ref_names_report_file(const Text &text) {
    return py_endswith(text, U".docx") || py_endswith(text, U".md");
}

std::optional<BranchMatch> ref_find_branch(const Text &text, const std::vector<Text> &branches) {
    auto is_branch = [&](const Text &name) {
        return std::find(branches.begin(), branches.end(), name) != branches.end();
    };
    Text candidate = text;
    while (true) {
        const bool has_slash = candidate.find(U'/') != Text::npos;
        if (is_branch(candidate)) return BranchMatch{candidate, false};
        if (!has_slash) break;
        candidate = py_join_but_last(py_split(candidate, U"/"));
    }
    candidate = text;
    while (true) {
        if (is_branch(candidate)) return BranchMatch{candidate, true};
        std::vector<Text> pieces = py_split(candidate, U"/", 1);
        if (pieces.size() != 2) return std::nullopt;
        candidate = pieces[1];
    }
}

std::optional<Text> ref_branch_directory(const Text &url, const Text &branch) {
    std::optional<Text> text = ref_branch_text(url);
    if (!text) return std::nullopt;
    Text directory;
    if (py_startswith(*text, branch + U"/")) {
        directory = text->substr(branch.size() + 1);
    } else if (!(*text == branch || py_endswith(*text, U"/" + branch))) {
        return std::nullopt;
    }
    if (ref_names_report_file(url)) {
        directory = py_join_but_last(py_split(directory, U"/"));
    }
    return py_rstrip_slashes(directory);
}

Text ref_virtual_hosted_uri(const Text &netloc, const Text &path, const Text &host) {
    const Text bucket = py_endswith(netloc, U"." + host)
                            ? netloc.substr(0, netloc.size() - host.size() - 1)
                            : py_split(netloc, U".s3", 1)[0];
    return U"s3://" + bucket + path;
}

std::optional<Text> ref_path_style_uri(const Text &path) {
    std::vector<Text> pieces = py_split(path, U"/", 2);
    if (pieces.size() < 2) return std::nullopt;
    return U"s3://" + pieces[1] + U"/" + (pieces.size() > 2 ? pieces[2] : Text());
}

std::optional<BucketKey> ref_split_bucket_uri(const Text &uri) {
    std::vector<Text> pieces = py_split(uri, U"/", 3);
    if (pieces.size() < 3) return std::nullopt;
    return BucketKey{pieces[2], pieces.size() > 3 ? pieces[3] : Text()};
}

std::string show(const std::optional<Text> &text) { return text ? literal(*text) : "None"; }

std::string show(const std::optional<BranchMatch> &match) {
    return match ? "(" + literal(match->name) + ", " + literal(match->from_left) + ")" : "None";
}

std::string show(const std::optional<BucketKey> &parts) {
    return parts ? "(" + literal(parts->bucket) + ", " + literal(parts->key) + ")" : "None";
}

template <typename T> void check_same(const char *what, const T &got, const T &expected, const std::string &input) {
    if (show(got) != show(expected)) vb::fuzz::mismatch(what, show(got), show(expected), input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::vector<Text> kTokens = {
        U"/",     U"/tree/", U"main",   U"feature/x", U".docx", U".md",
        U".s3",   U"s3://",  U"https://github.com/", U"s3.amazonaws.com", U"//", U"tree",
    };
    vb::fuzz::Input in(data, size);
    const Text url = in.text(kTokens);
    std::vector<Text> branches(in.byte() % 5);
    for (Text &branch : branches) branch = in.text(kTokens, 6);
    const Text other = in.text(kTokens, 12);
    const std::string input = literal(url) + ", branches=" + literal(branches) + ", other=" + literal(other);

    check_equal("names_report_file", names_report_file(url), ref_names_report_file(url), input);
    check_equal("last_component", last_component(url), py_split(url, U"/").back(), input);
    check_equal("strip_trailing_slashes", strip_trailing_slashes(url), py_rstrip_slashes(url), input);

    std::vector<Text> pieces = py_split(url, U"/");
    check_same("repo_full_name", repo_full_name(url),
               pieces.size() >= 5 ? std::optional<Text>(pieces[3] + U"/" + pieces[4]) : std::nullopt, input);
    check_same("branch_text", branch_text(url), ref_branch_text(url), input);
    if (std::optional<Text> text = branch_text(url))
        check_same("find_branch", find_branch(*text, branches), ref_find_branch(*text, branches), input);
    for (const Text &branch : branches)
        check_same("branch_directory", branch_directory(url, branch), ref_branch_directory(url, branch), input);
    check_same("branch_directory", branch_directory(url, other), ref_branch_directory(url, other), input);

    check_equal("virtual_hosted_uri", virtual_hosted_uri(url, other, U"s3.amazonaws.com"),
                ref_virtual_hosted_uri(url, other, U"s3.amazonaws.com"), input);
    check_equal("virtual_hosted_uri", virtual_hosted_uri(url, U"/k", other),
                ref_virtual_hosted_uri(url, U"/k", other), input);
    check_same("path_style_uri", path_style_uri(url), ref_path_style_uri(url), input);
    check_same("split_bucket_uri", split_bucket_uri(url), ref_split_bucket_uri(url), input);
    return 0;
}
