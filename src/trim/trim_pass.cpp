#include "trim/block_writer.h"
#include "trim/trim_job.h"

bool trim_pass(const trim_settings& s, trim_input* in, job_buffers* b, staging_file* staging,
               run_failure* why) {
  // The turn is held: every byte read is of a version no other run in the
  // folder changes meanwhile.
  file_facts before;
  const bool sized = describe(in->file.get(), &before) && before.regular;
  const os_file from = in->file.get();
  const os_file to = staging->file();
  int64_t got = read_some(from, b->in_buf.get(), b->read_size);
  if (got <= 0) {
    // Nothing was written: a staging file kept from before stays as it was.
    if (got < 0) return failed(why, "fread()", in->name);
    why->message = "malloc() error: 0 bytes";
    return false;
  }
  // Emptied once held, as a run we waited for may have grown it.
  bool written = staging->empty();
  trim_carry carry;
  trim_start(&carry, s.group_lines, s.cut_len, s.crlf_mode ? line_end::crlf : line_end::lf);
  unsigned char* out = b->out_slots.get();
  size_t made = trim_chunk(&carry, b->in_buf.get(), static_cast<size_t>(got), out);
  got = written ? read_some(from, b->in_buf.get(), b->read_size) : 0;
  if (got <= 0) {
    // One block: a thread would cost more than it saves.
    written = written && write_all(to, out, made);
  } else {
    // Each trimmed block is written while the next ones are read and trimmed
    // into the other slots.
    block_writer writer(to, output_slots);
    size_t slot = 0;
    for (written = writer.put(out, made); written && got > 0;
         got = read_some(from, b->in_buf.get(), b->read_size)) {
      // Without a thread each block is written as it is handed over: one
      // slot serves, and the others' memory is never touched (faulted in).
      if (writer.threaded()) slot = (slot + 1) % output_slots;
      out = b->out_slots.get() + slot * b->slot_size;
      made = trim_chunk(&carry, b->in_buf.get(), static_cast<size_t>(got), out);
      written = writer.put(out, made);
    }
    written = writer.finish() && written;
  }
  if (!written) {
    failed(why, "fwrite()", staging_name);
  } else if (got < 0) {
    failed(why, "fread()", in->name);
  } else if (sized && (!describe(from, &in->read) || !same_version(before, in->read))) {
    failed(why, "fread()", in->name + " changed while it was read");
  } else if (!in->file.close()) {
    failed(why, "fread()", in->name);
  } else {
    staging->mark_whole();
    return true;
  }
  // A partial result must not pass for a whole one.
  staging->remove();
  return false;
}
