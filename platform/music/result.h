// Results of the music service's operations. Callers rely on telling exact
// success from "success, but nothing found".
#pragma once

namespace music {

enum class Result
{
    Ok,           // done
    NothingFound, // success, nothing there: no notification, no playing instance, no port
    Failed,       // the operation failed and changed nothing
    NotSupported  // the object does not offer this operation
};

constexpr bool succeeded(Result r)
{
    return r == Result::Ok || r == Result::NothingFound;
}

} // namespace music
