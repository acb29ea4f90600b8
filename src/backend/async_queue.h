// The asynchronous mode: the logging threads queue their records, and one
// thread of the module's hands them to log4cpp.
//
// A log call renders its message as in the synchronous mode, then captures
// what the layouts show of its own thread (the time, the thread id that `%t`
// prints, the NDC) and claims a slot of a bounded ring, taking no lock: a
// compare-and-swap of the ring's tail, a copy into the slot, and a store that
// publishes it. The writer thread takes the records in the order of their
// slots, fills one log4cpp event with each (log4cpp_internals.h) and calls
// the category's appenders as the synchronous hand-off does: holding the
// process-wide lock shared and the shared appenders' stripes, so that a
// configuration waits for the record in flight and no more. Records keep
// the order of their slots, so the order of each thread and of each category.
//
// When the ring is full, a call either sleeps until the writer makes room
// (`block`) or drops its record and counts it (`drop`); the first record
// queued after a drop is a notice of how many were dropped (kDroppedRecords,
// to the category kNoticeCategory at WARN).
//
// The ring's memory is mapped when a configuration first asks for its size,
// and kept for the process's life: a call may still hold it when a later
// configuration puts another in its place (a configuration that asks for
// that size again takes it back). A configuration changes the mode with the
// lock held alone: the records still queued are written (through the new
// configuration) before any later record, whatever the mode now.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "deadline.h"

namespace log4cpp {
class Category;
}

namespace quelto::backend {

enum class WhenFull : unsigned char { block, drop };

/// What a properties file asks of the mode (its `quelto.async` keys).
struct AsyncSettings {
  bool on = false;
  std::uint32_t records = 8192;
  WhenFull when_full = WhenFull::block;
};

/// The sizes a ring may have, in records.
inline constexpr std::uint32_t kLeastQueue = 16;
inline constexpr std::uint32_t kMostQueue = 1048576;

/// What one queued record takes, whatever its length: a message (with its
/// NDC) of up to kInlineText bytes is held in it, a longer one on the heap.
inline constexpr std::size_t kRecordBytes = 256;
inline constexpr std::size_t kInlineText = 200;

/// The category and the priority of the notice of dropped records.
inline constexpr char kNoticeCategory[] = "quelto_internal";

/// Queues the record when the asynchronous mode is on: true when that took
/// care of it (queued, dropped and counted, or filtered out as log4cpp
/// would), false when the caller must write it itself (the mode is off, or
/// no writer could be started). Takes no lock but, in `block` mode with the
/// ring full, the one it sleeps on.
/// `json_object` as for write_record (record.h).
bool queue_record(log4cpp::Category& category, int priority, std::string_view message,
                  bool json_object) noexcept;

/// Waits until `deadline` at the most for every record queued before the
/// call to be written: true when they were (at once when the mode is off).
bool flush_records(Deadline deadline) noexcept;

/// Records waiting now, and records dropped since the module was loaded.
struct QueueStats {
  std::uint64_t queued;
  std::uint64_t dropped;
};
QueueStats queue_stats() noexcept;

/// The category whose record the writer is handing to log4cpp now, if any:
/// what a drain that gave up waited on.
const log4cpp::Category* writer_busy_with() noexcept;

/// Makes ready, before the lock, the ring that `settings` need, so that a
/// configuration for which there is no memory fails before it changes
/// anything. With the turn held. Throws what allocating throws.
void prepare_queue(const AsyncSettings& settings);

/// Writes what the ring in use still holds, then puts the prepared one in
/// its place, and starts the writer. With the lock held alone, after a
/// successful configuration.
void use_prepared_queue() noexcept;

/// At exit: no record is queued any more; with the lock held alone
/// (`alone`), those still queued are written; the writer is told to stop.
void stop_queue_for_exit(bool alone) noexcept;

/// Waits until `deadline` at the most for the writer to have stopped.
void wait_for_writer_to_stop(Deadline deadline) noexcept;

/// In a child just forked: an empty ring, and no writer until a record
/// needs one. The parent's records stay the parent's.
void reset_queue_in_child() noexcept;

}  // namespace quelto::backend
