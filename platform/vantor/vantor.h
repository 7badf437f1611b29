#pragma once

/// Bus-arbitrator boards. Every call returns a u32 code, 0 for success, unless
/// noted; vantor_get_error_str gives a text for any code. A handle is opened
/// on one board and runs one station configuration file.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;

/// Result codes.
#define VANTOR_OK 0x00000000u
/// A consumed variable read whose value is stale; the data is still returned.
#define VANTOR_VAR_NOT_FRESH 0x60000000u
#define VANTOR_ERR_BAD_HANDLE 0x60000001u
#define VANTOR_ERR_BAD_PARAM 0x60000002u
#define VANTOR_ERR_NOT_FOUND 0x60000003u
/// vantor_read_evt: the event queue is empty.
#define VANTOR_NO_EVENT 0x60000004u
#define VANTOR_ERR_NO_MESSAGE 0x60000005u
#define VANTOR_ERR_STATE 0x60000006u
#define VANTOR_ERR_CONFIG_FILE 0x60000007u
#define VANTOR_ERR_NOT_ARBITRATOR 0x60000008u
#define VANTOR_ERR_QUEUE_FULL 0x60000009u
#define VANTOR_ERR_FILE 0x6000000Au
#define VANTOR_ERR_BUSY 0x6000000Bu
#define VANTOR_ERR_ABORTED 0x6000000Cu
#define VANTOR_ERR_NO_DEVICE 0x30100001u
#define VANTOR_ERR_DEVICE_BUSY 0x30100002u
/// The board went away or stopped answering (USB boards).
#define VANTOR_ERR_USB_NO_RESPONSE 0x30100009u

/// Device list records.
#define VANTOR_RECORD_SIZE 27
#define VANTOR_MAX_RECORDS 50

/// Interface types of a record (u32 at offset 0).
#define VANTOR_INTERFACE_PCI 1u
#define VANTOR_INTERFACE_USB 2u
#define VANTOR_INTERFACE_OTHER 3u

/// Event codes read by vantor_read_evt.
#define VANTOR_EVT_SEND_VAR_T 0x100
#define VANTOR_EVT_SEND_APU 0x130
#define VANTOR_EVT_SEND_APN 0x131
#define VANTOR_EVT_SEND_MSG 0x140
#define VANTOR_EVT_RECEIVE_VAR_T 0x200
#define VANTOR_EVT_RECEIVE_MSG 0x240
#define VANTOR_EVT_BA_ACTIVITY 0x400
#define VANTOR_EVT_BA_STOP1 0x401
#define VANTOR_EVT_BA_STOP2 0x402
#define VANTOR_EVT_BA_STOP3 0x404
#define VANTOR_EVT_BA_IDLE 0x408
#define VANTOR_EVT_BA_SUSPEND 0x500

/// Parameter of VANTOR_EVT_SEND_MSG: 0 sent; an acknowledged message nobody received.
#define VANTOR_MSG_REPORT_OK 0
#define VANTOR_MSG_REPORT_NO_ACK 1

/// Arbitrator status codes (vantor_medium.baStatus).
#define VANTOR_BA_STOPPED 0x0000
#define VANTOR_BA_STARTING 0x0003
#define VANTOR_BA_IDLE 0x0007
#define VANTOR_BA_PENDING 0x8004 /* standby while another arbitrator holds the bus */
#define VANTOR_BA_MACRO_END 0x8022
#define VANTOR_BA_SENDING_ID_DAT 0x8023
#define VANTOR_BA_SENDING_ID_MSG 0x8025
#define VANTOR_BA_TESTING 0x8028
#define VANTOR_BA_TESTING_END 0x8029
#define VANTOR_BA_WAITING_TIME 0x8030
#define VANTOR_BA_WAITING_SYNC 0x8031
#define VANTOR_BA_WAITING_SYNC_SILENT 0x8032
#define VANTOR_BA_APER_VAR_WINDOW 0x8038
#define VANTOR_BA_APER_MSG_WINDOW 0x8039

/// Medium command bits (vantor_set_medium_cmd); one word may combine them, a
/// channel being switched off before it is switched on.
#define VANTOR_MEDIUM_CH1_ON 0x01u
#define VANTOR_MEDIUM_CH1_OFF 0x02u
#define VANTOR_MEDIUM_CH2_ON 0x04u
#define VANTOR_MEDIUM_CH2_OFF 0x08u
#define VANTOR_MEDIUM_CLEAR_WATCHDOG 0x10u
#define VANTOR_MEDIUM_CLEAR_CH1_TX_ERROR 0x20u
#define VANTOR_MEDIUM_CLEAR_CH2_TX_ERROR 0x40u

/// Buffer sizes exchanged with the library.
#define VANTOR_VAR_WRITE_SIZE 126
#define VANTOR_VAR_READ_SIZE 131
#define VANTOR_MSG_SIZE 266
#define VANTOR_MSG_DATA_MAX 256

/// One device list record: u32 interface type, u8 board index, then board data
/// (u32 board number at 10, u8 speed code at 17, u16 sub-system identifier at 25).
typedef struct vantor_record {
    u8 bytes[VANTOR_RECORD_SIZE];
} vantor_record;

typedef struct vantor_device vantor_device_handle;

/// Medium counters and status (20 bytes).
typedef struct vantor_medium {
    u16 counters[7]; ///< ch.1 no error, ch.2 no error, ch.1 error, ch.2 error, no echo, ch.1 testp, ch.2 testp
    u16 reserved;
    u16 baStatus;     ///< arbitrator status code
    u16 mediumStatus; ///< bit 0/1 channel active, 2/3 transmit error, 4/5 watchdog error
} vantor_medium;

/// Board monitoring data.
typedef struct vantor_monitoring_info {
    float temperature; ///< degrees Celsius
    float supplyVoltage;
    u32 uptimeSeconds;
} vantor_monitoring_infos;

typedef void (*CallbackProgression)(vantor_device_handle* handle, u8 dir, u16 destId, u8 destSeg, u16 srcId,
                                    u8 srcSeg, u32 currentPacket, u32 totalPackets, double seconds, void* user);
typedef void (*CallbackCompletion)(vantor_device_handle* handle, u8 dir, u16 destId, u8 destSeg, u16 srcId,
                                   u8 srcSeg, u32 report, double seconds, char* path, void* user);

/// Handed to vantor_init_network; user is passed back as the last argument of both callbacks.
typedef struct vantor_callbacks {
    CallbackCompletion completion;
    CallbackProgression progression;
    void* reserved1;
    void* reserved2;
    void* user;
} vantor_callbacks;

/// Detection.
u32 vantor_get_devices_number(u8* count);
/// buffer has room for VANTOR_MAX_RECORDS records; count receives the number written.
u32 vantor_get_devices_list(vantor_record* buffer, u8* count);
vantor_device_handle* vantor_device_open(u32 interfaceType, u8 boardIndex, u32* err);
u32 vantor_device_close(vantor_device_handle* handle);
u32 vantor_get_rgb_led(vantor_device_handle* handle, u32* colour);
u32 vantor_set_rgb_led(vantor_device_handle* handle, u32 colour);

/// Running a station.
u32 vantor_init_network(vantor_device_handle* handle, u32 mode, const char* path, vantor_callbacks* cb);
u32 vantor_start_network(vantor_device_handle* handle);
u32 vantor_stop_network(vantor_device_handle* handle);
u32 vantor_set_file_reception_dir_path(vantor_device_handle* handle, const char* path);
u32 vantor_start_ba(vantor_device_handle* handle, u8 macrocycle);
u32 vantor_change_macrocycle(vantor_device_handle* handle, u8 macrocycle);
u32 vantor_stop_ba(vantor_device_handle* handle);

u32 vantor_read_evt(vantor_device_handle* handle, u16* code, u16* param);
/// data: VANTOR_VAR_WRITE_SIZE bytes, data from offset 0.
u32 vantor_write_var_by_id(vantor_device_handle* handle, u16 id, u8* data);
/// buf: VANTOR_VAR_READ_SIZE bytes, byte 1 data length, data from offset 2.
u32 vantor_read_var_by_id(vantor_device_handle* handle, u16 id, u8* buf, u8* promptness, u8* refreshment);
/// msg: VANTOR_MSG_SIZE bytes; bytes 2-3 data length + 6, high byte first.
u32 vantor_write_msg(vantor_device_handle* handle, u16 channel, u8* msg);
/// msg: VANTOR_MSG_SIZE bytes; bytes 2-3 data length, little-endian.
u32 vantor_read_msg(vantor_device_handle* handle, u8* msg);
u32 vantor_send_aper_by_id(vantor_device_handle* handle, u16 id, u8 mode);
u32 vantor_purge_aper(vantor_device_handle* handle, u8 mode);
/// Returns a 16-bit result: 0, or the low 16 bits of the code of the failure.
u16 vantor_purge_msg(vantor_device_handle* handle, u8 channel, u16* blocksFreed, u8* scratch);
u32 vantor_set_medium_cmd(vantor_device_handle* handle, u16 cmd);
u32 vantor_get_medium(vantor_device_handle* handle, vantor_medium* out);
u32 vantor_get_monitoring_infos(vantor_device_handle* handle, vantor_monitoring_infos* out);

u32 vantor_send_file(vantor_device_handle* handle, u16 channel, u16 destId, u8 destSeg, u16 srcId, u8 srcSeg,
                     char* path);
u32 vantor_abort_file_emission(vantor_device_handle* handle);

/// NUL-terminated text for any code; never null.
const char* vantor_get_error_str(u32 code);

#ifdef __cplusplus
}
#endif
