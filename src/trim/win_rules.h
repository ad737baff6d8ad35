// Windows' documented rules for names and open handles, as plain functions of
// the values the system reports, so that they build and are tested on any
// system; platform_win32.cpp feeds them from the API.
#pragma once

#include <cstdint>
#include <string_view>

#include "trim/platform.h"

// The values winbase.h, winnt.h and winerror.h give them.
inline constexpr uint32_t win_file_type_disk = 1;  // FILE_TYPE_DISK
inline constexpr uint32_t win_attribute_directory = 0x10;
inline constexpr uint32_t win_attribute_reparse_point = 0x400;
inline constexpr uint32_t win_invalid_attributes = 0xFFFFFFFF;
inline constexpr uint32_t win_name_surrogate_bit = 0x20000000;  // IsReparseTagNameSurrogate
inline constexpr uint32_t win_error_file_not_found = 2;
inline constexpr uint32_t win_error_access_denied = 5;
inline constexpr uint32_t win_error_file_exists = 80;
inline constexpr uint32_t win_error_delete_pending = 303;

// A plain file, as GetFileType, the attributes and FileAttributeTagInfo's
// reparse tag tell: on disk, no folder, and no name surrogate (a symbolic
// link, a junction, a mount point). Other reparse points (deduplication, HSM,
// tiered storage, cloud placeholders) hold a plain file's data.
bool win_regular(uint32_t file_type, uint32_t attributes, uint32_t reparse_tag);

// Why CreateFileW failed on the staging file, given its error and, after an
// ERROR_ACCESS_DENIED, what GetFileAttributesW returned (and its error).
own_open win_open_failure(uint32_t open_error, uint32_t attributes, uint32_t attributes_error);

// Which data stream of a file a name opens: 0 for the unnamed one, else a
// key of the stream's name. Streams share the file's id, not its bytes.
uint64_t win_stream_key(std::string_view name);

// True when `name` opens the program's own file `own` in the current folder:
// Win32 names ignore letter case and trailing dots and spaces.
bool win_own_name(std::string_view name, std::string_view own);
