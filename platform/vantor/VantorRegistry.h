#pragma once

#include "VantorBus.h"

#include <memory>

/// The open handles and the boards they stand for, shared by the library calls
/// and the simulator's control functions.
namespace VantorRegistry {

std::shared_ptr<vantor_device> open(u32 interfaceType, u8 boardIndex, u32* err);
/// The live handle, or null for a pointer that is not one (closed, never opened).
std::shared_ptr<vantor_device> find(const vantor_device* handle);
/// The handle open on the board at this position, or null.
std::shared_ptr<vantor_device> openAt(int position);
void close(const vantor_device* handle);
/// Fills records of the boards present; returns how many.
int records(vantor_record* out, int max);
quint32 led(int position);
void setLed(int position, quint32 colour);
int filePacketUs();

/// The code every call on a pulled board answers.
inline u32 pulledCode(const vantor_device& d)
{
    return d.interfaceType == VANTOR_INTERFACE_USB ? VANTOR_ERR_USB_NO_RESPONSE : VANTOR_ERR_NO_DEVICE;
}

} // namespace VantorRegistry
