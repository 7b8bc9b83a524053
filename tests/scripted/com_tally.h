// The tally that test builds of the COM stand-in keep: nothing it hands out may outlive a walk.
// Compiled into the stand-in only where ZORVEK_COM_TALLY is defined (tests/scripted/CMakeLists.txt).
#pragma once

namespace comtally {

// What the stand-in reports as it hands out and takes back references and BSTRs.
void references(long change);
void bstrs(long change);

// References held on stand-in COM objects right now (every AddRef not yet matched by a Release).
long liveReferences();
// BSTRs allocated and not yet freed.
long liveBstrs();

}  // namespace comtally
