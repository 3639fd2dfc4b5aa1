// The entries of a table one by one, for a search index.
#include <algorithm>
#include <tuple>

#include "key_reader.h"
#include "lookup.h"
#include "shelf.h"
#include "text.h"

namespace zavreader {

Status Shelf::entries(size_t database, Budget &budget, const EntrySink &take) {
    const Database &d = databases_[database];
    Status s;
    std::shared_ptr<const Loaded> keys = loaded(database, budget, &s);
    if (!keys) return s;
    std::shared_ptr<Book> current = book(database);
    Lease lease = current->lease(&s);
    if (!lease) return s;
    KeyReader reader(*current, lease.handle(), d.table);
    reader.useKeys(&keys->keys);
    if (reader.count() != keys->keys.size())
        return Status::fail(ZAVR_UNREADABLE, d.path + ": the book changed while its entries were read");
    // (page, offset, key) of every headword key, so that the keys of one
    // entry come together and the pages are read in their order.
    std::vector<std::tuple<int64_t, uint32_t, uint32_t>> refs;
    refs.reserve(keys->keys.size());
    for (uint32_t i = 0; i < keys->keys.size(); ++i) {
        if (budget.spent()) return budget.status();
        if (!keys->keys.isFold(i)) refs.emplace_back(reader.page(i), reader.offset(i), i);
    }
    std::sort(refs.begin(), refs.end());
    size_t total = 0;
    for (size_t i = 0; i < refs.size(); ++i)
        if (i == 0 || std::get<0>(refs[i]) != std::get<0>(refs[i - 1]) ||
            std::get<1>(refs[i]) != std::get<1>(refs[i - 1]))
            ++total;
    int64_t cachedPage = -1;
    std::string page, pageReason;
    SourceEntry entry;
    size_t done = 0;
    for (size_t i = 0; i < refs.size();) {
        if (budget.spent()) return budget.status();
        auto [pageNumber, offset, first] = refs[i];
        entry.keyIndex = first;
        entry.page = pageNumber;
        entry.offset = offset;
        entry.headwords.clear();
        for (; i < refs.size() && std::get<0>(refs[i]) == pageNumber && std::get<1>(refs[i]) == offset; ++i) {
            uint32_t key = std::get<2>(refs[i]);
            entry.keyIndex = std::min(entry.keyIndex, key);
            std::string headword = toUtf8(keyBody(keys->keys.text(key)), d.language);
            if (!headword.empty() &&
                std::find(entry.headwords.begin(), entry.headwords.end(), headword) == entry.headwords.end())
                entry.headwords.push_back(std::move(headword));
        }
        entry.text.clear();
        entry.reason.clear();
        if (pageNumber != cachedPage) {
            auto text = soundPage(*current, lease.handle(), d.table, pageNumber, &pageReason);
            page = text ? std::move(*text) : std::string();
            if (text) pageReason.clear();
            cachedPage = pageNumber;
        }
        if (!pageReason.empty())
            entry.reason = pageReason;
        else if (offset > page.size())
            entry.reason = d.path + ": an entry's offset " + std::to_string(offset) +
                           " lies past the end of table page " + std::to_string(pageNumber);
        else
            entry.text = toUtf8(std::string_view(page).substr(offset), d.language);
        if (!take(entry, ++done, total)) return Status::fail(ZAVR_CANCELLED, "stopped");
    }
    return Status::ok();
}

}  // namespace zavreader
