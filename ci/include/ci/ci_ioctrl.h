#ifndef NORVA_CI_IOCTRL_H
#define NORVA_CI_IOCTRL_H

/*
 * The ioctl protocol of the ISP kernel driver: the command numbers and, next to them, the 32-bit request
 * values passed to ioctl. The values follow the Linux encoding (direction << 30 | size << 16 | type << 8 | nr)
 * with type '!' and a size of 8 for a record pointer or 4 for an int passed by value; the direction bits are
 * the driver's own: commands that read from the driver carry the "write" bit (1) and commands that write to
 * it carry the "read" bit (2). Do not "correct" them: the driver dispatches on these exact values.
 */

#include <stddef.h>

#include "qor_types.h"

typedef enum CI_eIOCTL {
    CI_INFO_GET = 0,
    CI_LINESTORE_GET,
    CI_LINESTORE_SET,
    CI_GMALUT_GET,
    CI_GMALUT_SET,
    CI_TIMEST_GET,
    CI_SYSTIME_GET,
    CI_DPFINT_GET,
    CI_RTM_GET,
    CI_RESET,
    CI_PIPELINE_REGISTER = 10,
    CI_PIPELINE_DEREGISTER,
    CI_CONFIG_ADDPOOL,
    CI_CONFIG_DELPOOL,
    CI_CONFIG_UPDATE,
    CI_CREATE_BUFF,
    CI_DEREGISTER_BUFF,
    CI_PIPELINE_GET_LSH,
    CI_PIPELINE_SET_LSH,
    CI_PIPELINE_CHANGE_LSH,
    CI_CAPTURE_START = 20,
    CI_CAPTURE_STOP,
    CI_CAPTURE_TRIGGER,
    CI_CAPTURE_ACQUIRE,
    CI_CAPTURE_RELEASE,
    CI_CAPTURE_ISSTARTED,
    CI_CAPTURE_HASWAITING,
    CI_CAPTURE_HASAVAILABLE,
    CI_CAPTURE_HASPENDING,
    CI_GASKET_ACQUIRE,
    CI_GASKET_RELEASE = 30,
    CI_GASKET_GETINFO,
    CI_IIFDG_REGISTER,
    CI_IIFDG_START,
    CI_IIFDG_ISSTARTED,
    CI_IIFDG_STOP,
    CI_IIFDG_ALLOCATE,
    CI_IIFDG_ACQUIRE,
    CI_IIFDG_RELEASE,
    CI_IIFDG_WAITPROCESSED,
    CI_IIFDG_FREE = 40,
    CI_DEBUG_REG,
    CI_IOCTL_N /* count of commands */
} CI_eIOCTL;

/** The ioctl type character of the driver. */
#define CI_IOCTL_TYPE '!'

#ifdef __cplusplus
#define CI_IOCTL_CONST constexpr
#else
#define CI_IOCTL_CONST const
#endif

/** The request value of each command, indexed by its number. */
static CI_IOCTL_CONST QOR_UINT32 CI_IOCTL_REQUEST[CI_IOCTL_N] = {
    0x40082100u, 0x40082101u, 0x80082102u, 0x40082103u, 0x80082104u, 0x40082105u, 0x40082106u, /* 0-6 */
    0x40082107u, 0x40082108u, 0x80042109u, 0x8008210au, 0x8004210bu, 0xc008210cu, 0x8004210du, /* 7-13 */
    0x8008210eu, 0xc008210fu, 0x80082110u, 0x80082111u, 0x80082112u, 0x80082113u, 0x80042114u, /* 14-20 */
    0x80042115u, 0x80082116u, 0xc0082117u, 0x80082118u, 0x80042119u, 0x8004211au, 0xc008211bu, /* 21-27 */
    0x8004211cu, 0x8008211du, 0x8004211eu, 0xc008211fu, 0x80042120u, 0x80082121u, 0x80042122u, /* 28-34 */
    0x80042123u, 0xc0082124u, 0xc0082125u, 0x80082126u, 0x80082127u, 0x80082128u, 0xc0082129u, /* 35-41 */
};

/** The request value of a command number. */
#define CI_IOCTL_CMD(nr) ((unsigned long)CI_IOCTL_REQUEST[(nr)])

#ifdef __cplusplus
namespace ci_ioctl_check {
constexpr bool wellFormed(unsigned nr) {
    return nr >= CI_IOCTL_N ||
           (((CI_IOCTL_REQUEST[nr] & 0xffu) == nr) && (((CI_IOCTL_REQUEST[nr] >> 8) & 0xffu) == 0x21u) &&
            (((CI_IOCTL_REQUEST[nr] >> 16) & 0x3fffu) == 8u || ((CI_IOCTL_REQUEST[nr] >> 16) & 0x3fffu) == 4u) &&
            (CI_IOCTL_REQUEST[nr] >> 30) != 0u && wellFormed(nr + 1));
}
} // namespace ci_ioctl_check
static_assert(ci_ioctl_check::wellFormed(0), "every request carries its own number, type '!' and size 4 or 8");
#endif

/** Argument of CI_DEBUG_REG. */
typedef struct CI_DEBUG_REG_PARAM {
    QOR_BOOL8 bRead; /* 1 read, 0 write */
    QOR_UINT8 eBank; /* register bank */
    QOR_UINT32 ui32Offset;
    QOR_UINT32 ui32Value; /* value written, or value read back */
} CI_DEBUG_REG_PARAM;

#ifdef __cplusplus
static_assert(sizeof(CI_DEBUG_REG_PARAM) == 12, "CI_DEBUG_REG_PARAM");
static_assert(offsetof(CI_DEBUG_REG_PARAM, bRead) == 0 && offsetof(CI_DEBUG_REG_PARAM, eBank) == 1 &&
                  offsetof(CI_DEBUG_REG_PARAM, ui32Offset) == 4 && offsetof(CI_DEBUG_REG_PARAM, ui32Value) == 8,
              "CI_DEBUG_REG_PARAM layout");
#endif

#endif /* NORVA_CI_IOCTRL_H */
