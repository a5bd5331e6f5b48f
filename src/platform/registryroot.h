// The predefined roots of the registry tree.
#pragma once

namespace platform {

enum class RegistryRoot
{
    None,
    ClassesRoot,
    CurrentConfig,
    CurrentUser,
    LocalMachine,
    Users,
    PerformanceData,
    DynData,
};

} // namespace platform
