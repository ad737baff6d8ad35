#include "trim/names.h"

#include <filesystem>
#include <system_error>

#include "trim/staging_file.h"

namespace fs = std::filesystem;

namespace {

// True when both names reach one existing file, by any spelling or link.
bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(file_path(a), file_path(b), ec);
}

}  // namespace

bool names_staging_file(const std::string& name) {
  std::error_code ec;
  // A name that exists and is no link leads nowhere else: only its identity
  // can make it the staging file.
  const fs::file_status status = fs::symlink_status(file_path(name), ec);
  if (!ec && fs::exists(status) && !fs::is_symlink(status)) return same_file(name, staging_name);
  const fs::path staging = fs::weakly_canonical(fs::absolute(staging_name, ec), ec);
  if (ec) return false;
  if (same_file(name, staging_name)) return true;
  // Neither may exist yet: compare where the name leads once its links are
  // followed. A link whose target is missing still leads to that target.
  fs::path target = fs::absolute(file_path(name), ec);
  for (int hops = 0; hops < 40 && !ec; ++hops) {
    std::error_code link_ec;
    if (!fs::is_symlink(fs::symlink_status(target, link_ec))) break;
    const fs::path link = fs::read_symlink(target, ec);
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  if (ec) return false;
  const fs::path leads_to = fs::weakly_canonical(target, ec);
  return !ec && same_path(leads_to, staging);
}

bool same_place(const std::string& a, const std::string& b) {
  // One place is one file, which two calls can rule out; resolving each name
  // takes a call per folder on its way.
  std::error_code ec_a;
  if (!fs::equivalent(file_path(a), file_path(b), ec_a) && !ec_a) return false;
  std::error_code ec_b;
  const fs::path pa = fs::weakly_canonical(fs::absolute(file_path(a), ec_a), ec_a);
  const fs::path pb = fs::weakly_canonical(fs::absolute(file_path(b), ec_b), ec_b);
  return !ec_a && !ec_b && same_path(pa, pb);
}

std::string folder_of(const std::string& name) {
  return name.substr(0, name_start(name));
}

bool file_behind(const std::string& name, std::string* folder, std::string* base) {
  std::error_code ec;
  const fs::path file = fs::canonical(file_path(name), ec);
  if (ec) return false;
  // The folder as the user spelled it, where that is the same folder.
  const std::string given = folder_of(name);
  const fs::path spelled = given.empty() ? fs::path(".") : file_path(given);
  *folder =
      fs::equivalent(spelled, file.parent_path(), ec) ? given : name_of(file.parent_path() / "");
  *base = name_of(file.filename());
  return true;
}

std::string kept_result_name(const std::string& folder, const std::string& file_name,
                             const file_id& id, int attempt) {
  // Short enough for any file system's limit on one name, and never half a
  // character; bytes that are no characters at all are cut where they stand.
  std::string base = file_name.substr(name_start(file_name));
  if (base.size() > 200) {
    size_t cut = 200;
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
    base.resize(cut > 0 ? cut : 200);
  }
  std::string name = folder;
  name.append(base).append(".trimmed-").append(std::to_string(id.index));
  if (attempt > 0) name.append("-").append(std::to_string(attempt + 1));
  return name;
}
