// The compacting collector. Marking is precise: it starts from the stacks,
// the registered root cells and the mark callbacks, never from the machine
// stack. Sweeping slides live buffers down their series frames and rewrites
// their nodes, so C++ code must re-read buffers through nodes after anything
// that can allocate (see docs/architecture.md, "Rooting").
#pragma once
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace zan {

struct CollectorState {
    bool active;
    bool enabled;
    bool node_compaction_enabled;  // off by default: see gc_init
    u32 node_compaction_setting;  // history mask = (1 << (setting + 1)) - 1
    u32 series_cycles;
    u32 nodes_cycles;
    bool stress;                  // collect before every allocation that may collect
};
extern CollectorState g_gc;

// Resets the state (collector off until start-up enables it), reads
// ZAN_GC_STRESS and installs the collector as the allocator's hook.
void gc_init();
// One full collection: mark, settle weak tables, sweep and slide the series
// frames, free what nothing reached. Does nothing when one is running.
void gc_collect();

// Mark callbacks run after the collector's own roots, in registration order.
// The list grows as needed.
using MarkCallback = void (*)();
// remove is for a subsystem that stops holding values (a back end shut
// down for good); the current ones stay registered for the whole run.
void gc_add_mark_callback(MarkCallback cb);
void gc_remove_mark_callback(MarkCallback cb);

// Weak tables: their entries keep nothing alive by themselves. After every
// root and mark callback, mark_live runs for each table, marking what the
// entries whose keys were reached hold, and returns true when it marked an
// entry it had not marked before; the round repeats until none does. Then
// purge drops the entries whose keys stayed unmarked.
struct WeakTable {
    bool (*mark_live)();
    void (*purge)();
};
void gc_add_weak_table(WeakTable table);

// Root cells: global cells (the root block, the global context, ...) whose
// values are marked at every collection. Registered by address; the cell
// must outlive its registration.
void gc_add_root(ValueCell* cell);
void gc_remove_root(ValueCell* cell);

// Keeps a C++ local value alive (and its references current) for a scope.
class GcRoot {
public:
    explicit GcRoot(ValueCell* cell) : cell_(cell) { gc_add_root(cell_); }
    ~GcRoot() { gc_remove_root(cell_); }
    GcRoot(const GcRoot&) = delete;
    GcRoot& operator=(const GcRoot&) = delete;

private:
    ValueCell* cell_;
};

// Keeps the collector off for a scope: saves g_gc.enabled, clears it, and
// puts the saved state back when the scope ends, also when an exception
// leaves it. While it is held nothing moves, so addresses into series
// buffers stay valid.
class GcHold {
public:
    GcHold() : saved_(g_gc.enabled) { g_gc.enabled = false; }
    ~GcHold() { g_gc.enabled = saved_; }
    GcHold(const GcHold&) = delete;
    GcHold& operator=(const GcHold&) = delete;

private:
    bool saved_;
};

// Marking primitives for mark callbacks and datatype code. They take the
// address of the word that holds a node, not the node, because node-frame
// evacuation renumbers nodes and rewrites that word while marking.
// Marks the buffer alone (its contents are not scanned); true when newly
// marked.
bool gc_mark_node(Node* slot);
// Marks every value in [first, last) and all they reach.
void gc_mark_cells(ValueCell* first, ValueCell* last);
// Marks a series of cells and all its values reach.
void gc_mark_series_cells(Node* slot);

// Marks a hash table (its header series and everything it holds); installed
// by the hash-table module so that the collector does not depend on it.
using TableMarkFn = void (*)(Node* table);
void gc_set_table_marker(TableMarkFn fn);
// The symbol of the word `self`, whose binding is marked as a block.
extern u32 g_gc_self_symbol;
// Fixed buffers whose mark bits the collector clears at the end.
void gc_register_fixed(Node node);
// Node relocation during node-frame evacuation: old -> new, or the node itself.
Node gc_relocate(Node node);

}  // namespace zan
