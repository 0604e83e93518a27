#pragma once
// Makes the calling thread the main thread and has the Qt event loop run the
// calls that other threads hand over to it (the serial port's events).

void HandOverToEventLoop();
void EndHandOverToEventLoop();
