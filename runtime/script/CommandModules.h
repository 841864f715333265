// Every command module of the interpreter, plugged into the dispatcher's code table in one call.
#pragma once

// Registers the handlers of every command module and the interpreter links they provide. The
// start-up runs it once before the first event runs; running it again changes nothing.
void InstallCommandModules();
