#include "com_tally.h"

#include <atomic>

namespace comtally {

namespace {
std::atomic<long> g_references{0};
std::atomic<long> g_bstrs{0};
}  // namespace

void references(long change) { g_references += change; }
void bstrs(long change) { g_bstrs += change; }
long liveReferences() { return g_references.load(); }
long liveBstrs() { return g_bstrs.load(); }

}  // namespace comtally
