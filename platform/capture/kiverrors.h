#pragma once

/// Error codes of the board-access library and their texts.

#define KIV_OK 0x00000000
#define KIV_ERR_NOT_CONNECTED 0x30100001
#define KIV_ERR_INVALID_PARAMETER 0x30100002
#define KIV_ERR_DEVICE_LOST 0x30100003
#define KIV_ERR_DEVICE_NOT_FOUND 0x30100010
#define KIV_ERR_WAIT_TIMEOUT 0x30100012
#define KIV_ERR_REQUEST_REFUSED 0x30100020
#define KIV_ERR_REPLY_TOO_LONG 0x30100021
#define KIV_ERR_ALREADY_CONNECTED 0x30100030
#define KIV_ERR_INVALID_HANDLE 0x30100040
#define KIV_ERR_DEVICE_BUSY 0x3010203F

/// Text of a board-library code; unknown codes give "Unknown error 0x%08x".
const char* get_kiv_error(int code);
