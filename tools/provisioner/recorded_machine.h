// What the provisioner does with a machine it made, from its record alone: take it away, and
// build its dynamic part again after the system started afresh.
#ifndef BRANTOVIX_PROVISIONER_RECORDED_MACHINE_H
#define BRANTOVIX_PROVISIONER_RECORDED_MACHINE_H

namespace provisioner {

// Takes away what the record lists, newest first, then the record. Things already gone are
// fine (a stopped wineserver forgets HKEY_DYN_DATA; registration deletes the enumerator driver
// file). Returns false when something that is still there could not be removed; the record
// then stays.
bool RemoveRecorded();

// Builds the machine's keys and values under HKEY_DYN_DATA again from the record, oldest
// first, as Windows 98 builds its plug-and-play tree at every start: Wine keeps that root only
// in the running wineserver, so a restarted prefix has lost them. What is still there is
// written again with the recorded data. No record: nothing to do. Returns false when the
// record cannot be read, or a key or value could not be built (a value line without its data,
// from an older record, among them).
bool RestoreDynamicTree();

}   // namespace provisioner

#endif
