#include "platform/Folder.h"

// What both systems' halves share; each defines PendingReplace::State and drop() for itself.

namespace platform {

void HeldParents::release()
{
    for (Held &each : held)
        each = Held();
}

void HeldParents::forget(const Folder &top)
{
    for (Held &each : held) {
        if (each.top == &top)
            each = Held();
    }
}

PendingReplace::PendingReplace() = default;

PendingReplace::~PendingReplace()
{
    drop();
}

PendingReplace::PendingReplace(PendingReplace &&other) noexcept : state(other.state)
{
    other.state = nullptr;
}

PendingReplace &PendingReplace::operator=(PendingReplace &&other) noexcept
{
    if (this != &other) {
        drop();
        state = other.state;
        other.state = nullptr;
    }
    return *this;
}

bool PendingReplace::isPending() const
{
    return state != nullptr;
}

int Folder::prepareReplace(const NativePath &name, const char *data, std::size_t size,
                           const ReplaceCheck &check, PendingReplace &pending)
{
    return prepareReplace(
        name, [&](const Write &write) { return write(data, size); }, check, pending);
}

} // namespace platform
