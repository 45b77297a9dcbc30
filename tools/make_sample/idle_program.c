/* The code of the sample's user-mode programs. The build links it into one
   image per program, with its PDB, and make_sample places the programs'
   frames inside these functions, so that the sample's page names them. */

static volatile unsigned pending_changes;
static volatile unsigned queued_work;

void WaitForConfigurationChange(void) {
    while (pending_changes % 4 != 0) {
        pending_changes = pending_changes + 1;
    }
}

void RunTimerLoop(void) {
    for (unsigned tick = 0; tick < 16; ++tick) {
        if (tick % 3 == 0) {
            WaitForConfigurationChange();
        }
        pending_changes = pending_changes + tick;
    }
}

void ProcessWorkItem(void) {
    queued_work = queued_work * 3 + 1;
    if (queued_work % 2 == 0) {
        pending_changes = pending_changes + 1;
    }
}

void RunEventLoop(void) {
    while (queued_work % 5 != 0) {
        ProcessWorkItem();
    }
}

int ProgramMain(void) {
    RunTimerLoop();
    RunEventLoop();
    return 0;
}
