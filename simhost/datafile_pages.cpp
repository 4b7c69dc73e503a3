// A data file's pages and write-ahead log read as raw bytes, enough to find
// the file's identity and to see which pages each commit of a log writes,
// without SQLite and without trusting the main file to be whole.
#include "simhost/datafile_pages.h"

#include <cstring>
#include <vector>

#include "simhost/datafile_checks.h"

namespace simhost::datafile {

std::uint32_t bigEndian16(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 8 | p[1];
}

std::uint32_t bigEndian32(const unsigned char* p) {
  return bigEndian16(p) << 16 | bigEndian16(p + 2);
}

std::uint32_t headerPageSize(const unsigned char* header) {
  const std::uint32_t size = bigEndian16(header + 16);
  if (size == 1) return 65536;
  return size >= 512 && (size & (size - 1)) == 0 && size <= 32768 ? size : 0;
}

namespace {

// Reads an SQLite varint at `at` (before `end`); false when it runs over.
bool varint(const unsigned char*& at, const unsigned char* end, std::uint64_t* value) {
  *value = 0;
  for (int i = 0; i < 9; ++i) {
    if (at >= end) return false;
    const unsigned char byte = *at++;
    if (i == 8) {
      *value = *value << 8 | byte;
      return true;
    }
    *value = *value << 7 | (byte & 0x7F);
    if ((byte & 0x80) == 0) return true;
  }
  return true;
}

struct Column {
  std::uint64_t type = 0;
  const unsigned char* bytes = nullptr;
  std::size_t size = 0;
};

std::size_t serialSize(std::uint64_t type) {
  static const std::size_t fixed[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
  return type < 12 ? fixed[type] : static_cast<std::size_t>((type - 12) / 2);
}

std::int64_t serialInt(const Column& c) {
  if (c.type == 8 || c.type == 9) return c.type == 9;
  std::int64_t v = c.size > 0 && (c.bytes[0] & 0x80) ? -1 : 0;
  for (std::size_t i = 0; i < c.size; ++i)
    v = static_cast<std::int64_t>(static_cast<std::uint64_t>(v) << 8 | c.bytes[i]);
  return v;
}

// The rows of a table leaf page (its b-tree header at `header`), each as its
// columns; a page of another kind, or a row that overflows it, gives none.
std::vector<std::vector<Column>> leafRows(const unsigned char* page, std::size_t pageSize,
                                          std::size_t header) {
  std::vector<std::vector<Column>> rows;
  const unsigned char* end = page + pageSize;
  if (page[header] != 0x0D) return rows;
  const std::uint32_t cells = bigEndian16(page + header + 3);
  for (std::uint32_t n = 0; n < cells; ++n) {
    const std::size_t pointer = header + 8 + std::size_t{2} * n;
    if (pointer + 2 > pageSize) return {};
    const unsigned char* at = page + bigEndian16(page + pointer);
    std::uint64_t payload = 0, rowid = 0, headerSize = 0;
    if (at >= end || !varint(at, end, &payload) || !varint(at, end, &rowid)) return {};
    if (payload > static_cast<std::uint64_t>(end - at)) return {};
    const unsigned char* record = at;
    const unsigned char* recordEnd = at + payload;
    if (!varint(at, recordEnd, &headerSize) || headerSize > payload) return {};
    const unsigned char* body = record + headerSize;
    std::vector<Column> row;
    while (at < record + headerSize) {
      Column c;
      if (!varint(at, record + headerSize, &c.type) || c.type == 10 || c.type == 11) return {};
      c.size = serialSize(c.type);
      if (c.size > static_cast<std::size_t>(recordEnd - body)) return {};
      c.bytes = body;
      body += c.size;
      row.push_back(c);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

RawIdentity rawIdentity(const std::string& file, std::uint32_t pageSize) {
  RawIdentity found;
  const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
  if (pageSize < 512 || file.size() < pageSize) return found;
  for (const auto& row : leafRows(bytes, pageSize, 100)) {
    // sqlite_schema: type, name, tbl_name, rootpage, sql
    if (row.size() != 5 || row[1].type < 13 || row[3].type > 9) continue;
    if (std::string(reinterpret_cast<const char*>(row[1].bytes), row[1].size) != "identity")
      continue;
    const std::int64_t root = serialInt(row[3]);
    if (root < 2 || static_cast<std::uint64_t>(root) * pageSize > file.size()) return found;
    const unsigned char* page = bytes + static_cast<std::size_t>(root - 1) * pageSize;
    const auto rows = leafRows(page, pageSize, 0);
    if (rows.size() == 1 && !rows[0].empty() && rows[0][0].type == 12 + 2 * kIdentitySize) {
      found.id.assign(reinterpret_cast<const char*>(rows[0][0].bytes), kIdentitySize);
      found.page = static_cast<std::uint32_t>(root);
    }
    return found;
  }
  return found;
}

std::string logWithoutIdentity(const std::string& log, std::uint32_t pageSize,
                               std::uint32_t identityPage) {
  constexpr std::size_t kLogHeader = 32, kFrameHeader = 24;
  const auto* bytes = reinterpret_cast<const unsigned char*>(log.data());
  if (log.size() < kLogHeader || (bigEndian32(bytes) & 0xFFFFFFFE) != 0x377F0682) {
    return "it is not a write-ahead log";
  }
  if (bigEndian32(bytes + 8) != pageSize) return "its pages are not the file's size";
  bool identityWritten = false;
  for (std::size_t at = kLogHeader; at + kFrameHeader + pageSize <= log.size();
       at += kFrameHeader + pageSize) {
    // Frames of an earlier round of the log carry other salts: SQLite
    // stops there, and so does this.
    if (std::memcmp(bytes + at + 8, bytes + 16, 8) != 0) break;
    identityWritten = identityWritten || bigEndian32(bytes + at) == identityPage;
    if (bigEndian32(bytes + at + 4) != 0) {  // the frame that commits
      if (!identityWritten) return "a commit in it leaves the file's identity out";
      identityWritten = false;
    }
  }
  return "";
}

}  // namespace simhost::datafile
