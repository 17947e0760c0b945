// The board's installation as it sits in the Wine prefix: files, registry keys, setup-
// information files and device entries, plus decoys that must survive a removal.
#pragma once

#include <set>
#include <string>
#include <vector>

// Every artefact has a short label the cases use, e.g. "wdm.sys", "nt4.service", "dev.board".
std::vector<std::string> AllArtefactLabels();

// Creates the named artefacts (all of them when labels is empty). Keys are created with
// their subkeys and values, files with their attributes (some read-only or hidden).
void SeedArtefacts(const std::vector<std::string>& labels = {});

// Removes every artefact this suite may have created, whatever state it is in.
void CleanArtefacts();

// What the removal can touch: file names in the folders it works in, every key below the
// registry trees it works in, every device instance. Entries are "FILE:", "KEY:" or
// "DEV:" followed by the upper-case path.
std::set<std::string> TakeSnapshot();

// The snapshot entries that make up the labelled artefacts (a key with everything below it).
std::set<std::string> EntriesOf(const std::set<std::string>& snapshot, const std::vector<std::string>& labels);

// Of the given setup-information file labels, the one FindFirstFileA/FindNextFileA returns
// first for Windows directory + "\INF\OEM*.INF"; empty when none is present.
std::string FirstInSearchOrder(const std::vector<std::string>& labels);

// Position of the label's file in that search order, -1 when not returned.
int SearchPosition(const std::string& label);

// HKCU\Software\Wine\Version for the next program start; empty removes the value.
void SetWineVersion(const std::string& version);

// Deletes single artefacts before a run (a file, a key tree, a device).
void RemoveArtefact(const std::string& label);

// A device artefact's instance id, upper case.
std::string DeviceInstance(const std::string& label);

// Instance ids (upper case) in the order SetupDiEnumDeviceInfo walks all classes.
std::vector<std::string> DeviceWalkOrder();
