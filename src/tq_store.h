// SPDX-License-Identifier: MIT
// What the cache and the lookups ask of a client's store (tqmovie_store.cpp): records
// written through, read back, forgotten, and a chunk's writes in one transaction.
// Nothing here reports an error: a store that fails only means a record is not kept
// there (or a read misses); tqmovie_store_* calls report theirs. Not installed.
#ifndef TQ_STORE_H
#define TQ_STORE_H

#include "tq_client.h"

#include <cstddef>
#include <cstdint>

// The two record kinds a store keeps.
inline constexpr int tq_kind_basic = 0;
inline constexpr int tq_kind_detail = 1;

// A stored record: its complete JSON (the caller's, to free), when it was fetched
// and, for a detail record, the sections it holds.
struct tq_store_row {
    char *json;
    int64_t at;
    uint32_t sections;
};

// Writes a record through to c's store (none attached: nothing), keyed by c's base
// URL, the title, the kind and the language (NULL or "" is "en-US").
void tq_store_put(tqmovie_client &c, int kind, const char *id, const char *language, uint32_t sections, int64_t at,
                  const char *json) noexcept;
// Reads the record of that key, of any age, when it holds every section asked for.
bool tq_store_get(tqmovie_client &c, int kind, const char *id, const char *language, uint32_t sections,
                  tq_store_row *out) noexcept;
// Reads the record of that key from c's store into c's memory cache (with its stamp,
// whatever its age); false when the store has none.
bool tq_store_adopt(tqmovie_client &c, int kind, const char *id, const char *language, uint32_t sections) noexcept;
// Drops every record of the title (of c's service).
void tq_store_forget(tqmovie_client &c, const char *id) noexcept;

// Holds one transaction across the store calls made during its life: a batch chunk's
// puts land together (write), and a batch's look at what the store holds shares one
// snapshot and one lock (read; it never writes, so a read-only store takes it too).
// Inside another transaction it joins that one. Without a store, for a write on a
// read-only one, or when none can begin, it holds nothing: each call stands alone.
enum class tq_store_mode { read, write };
class tq_store_transaction {
public:
    tq_store_transaction(tqmovie_client &c, tq_store_mode mode) noexcept;
    ~tq_store_transaction();
    tq_store_transaction(const tq_store_transaction &) = delete;
    tq_store_transaction &operator=(const tq_store_transaction &) = delete;

private:
    tqmovie_client &c_;
    tq_store_mode mode_;
    bool held_;
};

// Releases c's hold on its store (the client is being freed).
void tq_store_detach(tqmovie_client &c) noexcept;

#endif // TQ_STORE_H
