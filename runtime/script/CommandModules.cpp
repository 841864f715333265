#include "runtime/script/CommandModules.h"

#include "runtime/script/CallCommands.h"
#include "runtime/script/CompilePass.h"
#include "runtime/script/DatabaseCommands.h"
#include "runtime/script/FlowCommands.h"
#include "runtime/script/MessageCommands.h"
#include "runtime/script/SoundCommands.h"
#include "runtime/script/SystemCommands.h"
#include "runtime/script/VariableCommands.h"

void InstallCommandModules() {
    InstallVariableCommands();
    InstallMessageCommands();
    InstallSoundCommands();
    InstallFlowCommands();
    InstallCallCommands();
    InstallDatabaseCommands();
    InstallCompiledCommands();
    InstallSystemCommands();
}
