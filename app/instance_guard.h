// One named mutex per user session, created at start in every mode, so an unattended
// installation can tell that another Pavoset.exe is running.
#pragma once

// 1 when this is the only instance; 0 when another one holds the name.
int take_instance_guard();
void release_instance_guard();
