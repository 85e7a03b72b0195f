// What the library keeps while it is attached to a process: its device
// table and an address inside itself (which finds its INI file and names
// its trace section).
#pragma once

namespace q7m {

class clsComList;

// Null while the library is not attached (or the table could not be made).
clsComList* DeviceTable();
const void* LibraryAnchor();

}  // namespace q7m
