#ifndef BX_CAPTURE_PCAPNG_PCAPNGFORMAT_H
#define BX_CAPTURE_PCAPNG_PCAPNGFORMAT_H

#include <QtGlobal>

/// Numbers of the pcapng file format (and of classic pcap, which is read too).
namespace Pcapng {

constexpr quint32 BlockSectionHeader = 0x0A0D0D0A;
constexpr quint32 BlockInterfaceDescription = 0x00000001;
constexpr quint32 BlockSimplePacket = 0x00000003;
constexpr quint32 BlockEnhancedPacket = 0x00000006;
constexpr quint32 ByteOrderMagic = 0x1A2B3C4D;

constexpr quint16 OptEnd = 0;
constexpr quint16 OptComment = 1;
constexpr quint16 OptCustomBinary = 2989; ///< copyable custom option: PEN then bytes

constexpr quint16 OptShbUserApplication = 4;

constexpr quint16 OptIfName = 2;
constexpr quint16 OptIfDescription = 3;
constexpr quint16 OptIfSpeed = 8;
constexpr quint16 OptIfTsResolution = 9;
constexpr quint16 OptIfFcsLength = 13;

constexpr quint16 OptEpbFlags = 2;
constexpr quint16 OptEpbPacketId = 5;

// Packet flags: inbound, and the link-layer error bits.
constexpr quint32 FlagInbound = 0x00000001;
constexpr quint32 FlagFcsLengthShift = 5;
constexpr quint32 FlagCrcError = 1u << 24;
constexpr quint32 FlagTooLong = 1u << 25;
constexpr quint32 FlagTooShort = 1u << 26;
constexpr quint32 FlagInterFrameGap = 1u << 27;
constexpr quint32 FlagUnalignedFrame = 1u << 28;
constexpr quint32 FlagStartDelimiter = 1u << 29;
constexpr quint32 FlagPreamble = 1u << 30;
constexpr quint32 FlagSymbol = 1u << 31;

// Classic pcap magics as read from the first four bytes, little-endian.
constexpr quint32 PcapMagicMicros = 0xA1B2C3D4;
constexpr quint32 PcapMagicNanos = 0xA1B23C4D;

/// The link type of FIP frames: the first user link type (LINKTYPE_USER0).
constexpr quint16 LinkTypeFip = 147;

/// Enterprise number of the custom options that carry what the trace needs
/// beyond the frame bytes. 32473 is the number reserved for documentation
/// (RFC 5612): it stands for the maker's until one is assigned.
constexpr quint32 BrantixEnterprise = 32473;

} // namespace Pcapng

#endif
