#include "trim/names.h"
#include "trim/trim_job.h"

namespace {

bool copied(const staging_file& staging, os_file to, const std::string& to_name, job_buffers* b,
            run_failure* why) {
  switch (staging.copy_to(to, b->out_slots.get(), b->slot_size)) {
    case copy_result::read_failed:
      return failed(why, "fread()", staging_name);
    case copy_result::write_failed:
      return failed(why, "fwrite()", to_name);
    case copy_result::done:
      break;
  }
  return true;
}

// The output is open and is not the staging file. Writing it waits for any
// other run that writes it. When it is the input, the input's only copy is
// replaced by the steps of in_place.h.
bool fill_output(const trim_input& in, job_buffers* b, const staging_file& staging, owned_file* to,
                 file_facts facts, const std::string& out_name, written_output* out,
                 run_failure* why) {
  if (facts.id == staging.id()) return refused_as_staging(why, out_name);
  in_place_replacement& replacement = out->replacement;
  const bool in_place = facts.regular && facts.id == in.opened.id;
  if (in_place) {
    if (!replacement.keep(staging, out_name, to->get(), b->out_slots.get(), b->slot_size, why) ||
        !replacement.hold(to, out_name, in.read, &facts, &out->unlocked, why)) {
      return false;
    }
  } else if (facts.regular) {
    out->unlocked = !lock_exclusive(to->get());
    if (!describe(to->get(), &facts)) return failed(why, "fopen()", out_name);
    // Another program put a new file in its place while this run waited, or
    // the name the input was read from now leads to another file.
    if (!name_leads_to(out_name, facts.id, true) ||
        (in.read.regular && same_place(in.name, out_name))) {
      return failed(why, "fwrite()", out_name + " changed since it was read");
    }
  }
  if (facts.regular && facts.size > 0 && !truncate_to_empty(to->get())) {
    return failed(why, "fwrite()", out_name);
  }
  if (!copied(staging, to->get(), out_name, b, why)) return false;
  if (!in_place) return true;
  if (!sync_file(to->get())) return failed(why, "fwrite()", out_name);
  return replacement.confirm(to->get(), out_name, staging, why);
}

}  // namespace

bool stage_output(const trim_settings& s, const trim_input& in, job_buffers* b,
                  const staging_file& staging, written_output* out, run_failure* why) {
  // draft.txt is the program's own name: never a link, a special file or
  // another user's file; as the fallback, always a new file.
  const bool named_draft = is_own_name(s.out_name, fallback_output_name);
  owned_file to;
  os_file f;
  if (open_for_writing(s.out_name, named_draft ? open_mode::working_file : open_mode::named_output,
                       &f)) {
    to.reset(f);
  } else if (!named_draft &&
             open_for_writing(fallback_output_name, open_mode::new_working_file, &f)) {
    to.reset(f);
    out->fallback = true;
  } else {
    return failed(why, "fopen()", fallback_output_name);
  }
  const std::string& out_name = out->fallback ? fallback_output_name : s.out_name;
  file_facts facts;
  const bool known = describe(f, &facts);
  bool done = known && (!named_draft || own_plain_file(facts))
                  ? fill_output(in, b, staging, &to, facts, out_name, out, why)
                  : failed(why, "fopen()", out_name);
  if (!to.close() && done) done = failed(why, "fwrite()", out_name);
  // A fallback that failed was new, and holds no whole result.
  if (!done && out->fallback && known) remove_name(fallback_output_name, facts.id);
  return done;
}
