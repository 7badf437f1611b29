#include "kiverrors.h"

#include <cstdio>

const char* get_kiv_error(int code)
{
    switch (unsigned(code)) {
    case KIV_OK: return "No error";
    case KIV_ERR_NOT_CONNECTED: return "Device not connected";
    case KIV_ERR_INVALID_PARAMETER: return "Invalid parameter";
    case KIV_ERR_DEVICE_LOST: return "Device removed or not answering";
    case KIV_ERR_DEVICE_NOT_FOUND: return "Device not found";
    case KIV_ERR_WAIT_TIMEOUT: return "No event received within the wait time";
    case KIV_ERR_REQUEST_REFUSED: return "Request refused by the device";
    case KIV_ERR_REPLY_TOO_LONG: return "Reply larger than the buffer";
    case KIV_ERR_ALREADY_CONNECTED: return "Device already connected";
    case KIV_ERR_INVALID_HANDLE: return "Invalid handle";
    case KIV_ERR_DEVICE_BUSY: return "Device already in use by another application";
    default: break;
    }
    static thread_local char text[40];
    std::snprintf(text, sizeof text, "Unknown error 0x%08x", unsigned(code));
    return text;
}
