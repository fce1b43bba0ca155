#include "names.hpp"

#include <utility>

namespace vb::core {

void replace_all(std::u32string &text, std::u32string_view old, std::u32string_view replacement) {
    std::u32string result;
    if (old.empty()) {
        result.reserve(text.size() + (text.size() + 1) * replacement.size());
        for (char32_t c : text) {
            result.append(replacement);
            result.push_back(c);
        }
        result.append(replacement);
        text = std::move(result);
        return;
    }
    std::size_t at = text.find(old);
    if (at == std::u32string::npos) return;
    std::size_t from = 0;
    for (; at != std::u32string::npos; at = text.find(old, from)) {
        result.append(text, from, at - from);
        result.append(replacement);
        from = at + old.size();
    }
    result.append(text, from, std::u32string::npos);
    text = std::move(result);
}

UniqueNamer::UniqueNamer(std::u32string suffix) : suffix_(std::move(suffix)) {}

void UniqueNamer::reserve(std::size_t names) {
    root_ids_.reserve(names);
    next_.reserve(names);
}

std::size_t UniqueNamer::add(std::u32string_view name) {
    std::size_t root_size = name.size();
    std::size_t count = 0;
    while (root_size >= suffix_.size() &&
           name.compare(root_size - suffix_.size(), suffix_.size(), suffix_) == 0) {
        root_size -= suffix_.size();
        ++count;
    }
    const std::size_t root =
        root_ids_.try_emplace(std::u32string(name.substr(0, root_size)), root_ids_.size())
            .first->second;
    const std::size_t free = next_free(root, count);
    next_[Taken{root, free}] = free + 1;
    return free - count;
}

std::size_t UniqueNamer::next_free(std::size_t root, std::size_t count) {
    std::size_t free = count;
    for (auto it = next_.find({root, free}); it != next_.end(); it = next_.find({root, free}))
        free = it->second;
    // Path compression: every count passed on the way now points at the free one.
    while (count != free) {
        std::size_t &next = next_[{root, count}];
        count = next;
        next = free;
    }
    return free;
}

}  // namespace vb::core
