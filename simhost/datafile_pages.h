// A data file's pages and write-ahead log read as raw bytes, enough to find
// the file's identity and to see which pages each commit of a log writes,
// without SQLite and without trusting the main file to be whole.
#pragma once

#include <cstdint>
#include <string>

namespace simhost::datafile {

// Numbers as SQLite stores them in its files: big-endian.
std::uint32_t bigEndian16(const unsigned char* p);
std::uint32_t bigEndian32(const unsigned char* p);
// The page size a database header gives (at its offset 16); 0 when none.
std::uint32_t headerPageSize(const unsigned char* header);

// The identity a main file holds, and the page that holds it. A checkpoint
// cut short leaves the main file a mix of old and new pages, which SQLite
// cannot read alone; but the schema entry of the identity table and the
// identity itself are the same in every version, so they are read here.
struct RawIdentity {
  std::string id;  // empty: none found
  std::uint32_t page = 0;
};
RawIdentity rawIdentity(const std::string& file, std::uint32_t pageSize);

// Reads a write-ahead log as SQLite would replay it, frame by frame, and
// says what is wrong when one of its commits leaves out the identity's page
// (every commit of this host writes it); "" when none does.
std::string logWithoutIdentity(const std::string& log, std::uint32_t pageSize,
                               std::uint32_t identityPage);

}  // namespace simhost::datafile
