// The start-up's one call plugs every built command module into the dispatcher.
#include <gtest/gtest.h>

#include <map>

#include "runtime/script/CommandModules.h"
#include "runtime/script/Game_Interpreter.h"

namespace {

TEST(CommandModulesTest, EveryModuleIsPluggedInByOneCall) {
    const std::int32_t codes[] = {101, 102, 106, 111, 121, 123, 125, 126,
                                  140, 141, 170, 210, 250, 251, 252, 300};
    std::map<std::int32_t, CommandHandler> before;
    for (std::int32_t code : codes) before[code] = SetCommandHandler(code, nullptr);
    const InterpreterLinks links = GetInterpreterLinks();

    InstallCommandModules();
    for (std::int32_t code : codes) EXPECT_NE(GetCommandHandler(code), nullptr) << code;
    EXPECT_NE(GetInterpreterLinks().evaluateInput, nullptr);
    EXPECT_NE(GetInterpreterLinks().getLineInputText, nullptr);
    // A second call changes nothing.
    const CommandHandler message = GetCommandHandler(101);
    InstallCommandModules();
    EXPECT_EQ(GetCommandHandler(101), message);

    for (const auto& [code, handler] : before) SetCommandHandler(code, handler);
    GetInterpreterLinks() = links;
}

}  // namespace
