#include "runtime/script/CommandModules.h"

#include "runtime/script/CallCommands.h"
#include "runtime/script/CharacterCommands.h"
#include "runtime/script/CompilePass.h"
#include "runtime/script/DatabaseCommands.h"
#include "runtime/script/FileCommands.h"
#include "runtime/script/FlowCommands.h"
#include "runtime/script/MessageCommands.h"
#include "runtime/script/SaveCommands.h"
#include "runtime/script/SoundCommands.h"
#include "runtime/script/StringCommands.h"
#include "runtime/script/SystemCommands.h"
#include "runtime/script/VariableCommands.h"

void InstallCommandModules() {
    InstallVariableCommands();
    InstallMessageCommands();
    InstallSoundCommands();
    InstallFlowCommands();
    InstallCallCommands();
    InstallCharacterCommands();
    InstallDatabaseCommands();
    InstallStringCommands();
    InstallFileCommands();
    InstallSaveCommands();
    InstallSystemCommands();
    InstallCompiledCommands();
}
