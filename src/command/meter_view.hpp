// --meter: the plug-in's own listing, made on the calling thread by one collector pass, with the
// names made safe for a terminal.
#pragma once

#include <vector>

#include "collector/connection_table.hpp"
#include "host/instance_settings.hpp"

namespace qv {

// Replaces each byte of a control character (C0, DEL, C1) of the entry's program and host names
// by '?'; one byte for one, so that the meter's cuts fall where they would have.
void replace_control_bytes(ConnectionEntry& entry);

// One collector pass, its table copied into snapshot and listed into record.outputText through
// the record's template and filters, as ListPorts would list it. Returns false, leaving the
// previous listing, when the pass could publish no table.
bool refresh_meter_listing(InstanceSettings& record, std::vector<ConnectionEntry>& snapshot);

}  // namespace qv
