/* tellam_controller.h: the names of what a program writes to and reads from the pulse-motor
 * controller of a Tellam board through tellamio.dll: ports, command bytes, operation-mode and
 * control bytes, registers, and the bits of the status bytes and registers. docs/controller.md
 * gives the meaning, units and range of each.
 *
 * Plain C89 preprocessor constants; it needs no other header and may be included before or
 * after tellamio.h. Every value fits a 32-bit int. */
#ifndef TELLAM_CONTROLLER_H
#define TELLAM_CONTROLLER_H

/* ---- Axes and ports ---- */

/* Axis numbers: the Tellam-6X has X to W, the Tellam-4X X to U. */
#define TLM_AXIS_X   0
#define TLM_AXIS_Y   1
#define TLM_AXIS_Z   2
#define TLM_AXIS_U   3
#define TLM_AXIS_V   4
#define TLM_AXIS_W   5
#define TLM_AXES_MAX 6

/* Each axis owns a block of ports: axis a the offsets a * 16 to a * 16 + 15. */
#define TLM_AXIS_PORTS         16
#define TLM_AXIS_PORT(axis, k) ((axis)*TLM_AXIS_PORTS + (k))
#define TLM_PORT_COMMAND       0 /* write: command byte (tlmio_CmdWrite) */
#define TLM_PORT_STATUS1       0 /* read: status 1 (tlmio_status1Read) */
#define TLM_PORT_MODE          1 /* write: operation-mode byte (tlmio_DousaWrite) */
#define TLM_PORT_STATUS2       1 /* read: status 2 (tlmio_status2Read) */
#define TLM_PORT_CONTROL       2 /* write: control byte (tlmio_SeigyoWrite) */
#define TLM_PORT_INT_STATUS    2 /* read: interrupt status (tlmio_intstatusRead) */
#define TLM_PORT_DATA_LOW      4 /* the data word, bits 0-15 (bytes at 4 and 5) */
#define TLM_PORT_DATA_HIGH     6 /* the data word, bits 16-31 (bytes at 6 and 7) */

/* Board-wide ports. The first of them ends the axis blocks. */
#define TLM_PORT_ELS       0x80  /* ELS polarity (tlmio_ElstWrite, tlmio_ElstRead) */
#define TLM_PORT_CMP       0x88  /* CMP output switching (tlmio_CmpcWrite, tlmio_CmpcRead) */
#define TLM_PORT_BOARD_ID  0x9C  /* board ID in bits 0-3 (tlmio_boardIDRead) */
#define TLM_PORT_INTRD     0xBC  /* interrupt request: bit n = axis n (tlmio_INTRDRead) */
#define TLM_PORT_INTRST    0xBE  /* interrupt reset (tlmio_INTRst) */
#define TLM_PORT_ID_NUMBER 0xC0  /* ID number byte i at 0xC0 + 2 * i (tlmio_IDNumberRead) */
#define TLM_PORT_COUNT     0x100 /* a board answers offsets 0x00 to 0xFF */

#define TLM_BOARD_ID_MASK   0x0F /* the board ID bits of the byte at TLM_PORT_BOARD_ID */
#define TLM_ID_NUMBER_BYTES 8
#define TLM_INTRST_ALL      0xFF /* the byte tlmio_INTRst writes: every axis */
#define TLM_CMP_STATUS      0x01 /* TLM_PORT_CMP, read: the comparator status */

/* ---- Command bytes (tlmio_CmdWrite) ---- */

#define TLM_CMD_IMMEDIATE_STOP 0x09
#define TLM_CMD_DECEL_STOP     0x0A /* slows to FL, then stops */
#define TLM_CMD_START_FL       0x10 /* start at FL, constant speed */
#define TLM_CMD_START_FH       0x11 /* start at FH, constant speed */
#define TLM_CMD_START_RAMPED   0x13 /* start at FL, accelerate to FH (and decelerate) */
#define TLM_CMD_SVON_OFF       0x48
#define TLM_CMD_SVRST_OFF      0x49
#define TLM_CMD_SVON_ON        0x58
#define TLM_CMD_SVRST_ON       0x59
#define TLM_CMD_AXIS_RESET     0x60
#define TLM_CMD_CLEAR_INT      0x61 /* clears the interrupt status */
#define TLM_CMD_CLEAR_END      0x62 /* clears the end cause of the last operation */
#define TLM_CMD_CYCLE_ON       0x66
#define TLM_CMD_CYCLE_OFF      0x67
#define TLM_CMD_READ_REG       0x80 /* + register: the register into the data word */
#define TLM_CMD_WRITE_REG      0xC0 /* + register: the data word into the register */
#define TLM_CMD_READ(reg)      (TLM_CMD_READ_REG + (reg))
#define TLM_CMD_WRITE(reg)     (TLM_CMD_WRITE_REG + (reg))

/* ---- Operation-mode byte (tlmio_DousaWrite), read by the next start command ---- */

#define TLM_MODE_KIND_MASK 0x07
#define TLM_MODE_ORIGIN    0x02 /* bits 0-2 = 2: an origin return */
#define TLM_MODE_PRESET    0x08 /* with TLM_MODE_FEED: a preset feed, else continuous */
#define TLM_MODE_MINUS     0x10 /* towards minus */
#define TLM_MODE_FEED      0x20 /* a feed */

#define TLM_MODE_PLUS_PRESET      (TLM_MODE_FEED | TLM_MODE_PRESET)
#define TLM_MODE_MINUS_PRESET     (TLM_MODE_FEED | TLM_MODE_PRESET | TLM_MODE_MINUS)
#define TLM_MODE_PLUS_CONTINUOUS  TLM_MODE_FEED
#define TLM_MODE_MINUS_CONTINUOUS (TLM_MODE_FEED | TLM_MODE_MINUS)
#define TLM_MODE_ORIGIN_RETURN    (TLM_MODE_ORIGIN | TLM_MODE_MINUS)

/* ---- Control byte (tlmio_SeigyoWrite) ---- */

#define TLM_CONTROL_INIT 0x14 /* what the test program writes at initialisation */

/* ---- Registers (32 bits each; written with TLM_CMD_WRITE, read with TLM_CMD_READ) ---- */

#define TLM_REG_PRESET    0 /* preset amount, pulses */
#define TLM_REG_FL        1 /* start speed FL, pulses per second */
#define TLM_REG_FH        2 /* top speed FH, pulses per second */
#define TLM_REG_RATE      3 /* acceleration/deceleration rate */
#define TLM_REG_4         4
#define TLM_REG_5         5
#define TLM_REG_SIGNAL    6 /* signal configuration */
#define TLM_REG_ORIGIN    7 /* origin-return configuration */
#define TLM_REG_8         8
#define TLM_REG_POSITION  9 /* position counter, signed */
#define TLM_REG_10        10
#define TLM_REG_11        11
#define TLM_REG_SPEED     12 /* current speed, pulses per second (read only) */
#define TLM_REG_OPERATION 13 /* operation status (read only) */
#define TLM_REG_INPUTS    14 /* input status (read only) */
#define TLM_REG_17        17
#define TLM_REG_18        18
#define TLM_REG_19        19
#define TLM_REG_23        23
#define TLM_REG_24        24
#define TLM_REG_25        25
#define TLM_REG_26        26
#define TLM_REG_27        27
#define TLM_REG_COUNT     28

/* Values the test program writes at initialisation to registers whose meaning is not known. */
#define TLM_REG_4_INIT 299
#define TLM_REG_8_INIT 0x4000

/* The clock of the rate register and of all motion timing, in Hz. */
#define TLM_CLOCK_HZ 2457600

/* Register 6, signal configuration. */
#define TLM_SIG_PULSE_MASK       0x07       /* pulse output form: */
#define TLM_SIG_PULSE_COMMON_POS 0          /*   common pulse command, positive logic */
#define TLM_SIG_PULSE_COMMON_NEG 2          /*   common pulse command, negative logic */
#define TLM_SIG_PULSE_INDIV_POS  4          /*   individual pulse command, positive logic */
#define TLM_SIG_PULSE_INDIV_NEG  7          /*   individual pulse command, negative logic */
#define TLM_SIG_PULSE_INDIVIDUAL 0x04       /* set in the two individual forms */
#define TLM_SIG_PULSE_NEGATIVE   0x02       /* set in the two negative-logic forms */
#define TLM_SIG_INPOS_A          0x08       /* INPOS input A contact (clear: B contact) */
#define TLM_SIG_DLS_A            0x10       /* DLS input A contact */
#define TLM_SIG_OLS_A            0x20       /* OLS input A contact */
#define TLM_SIG_SVALM_A          0x40       /* SVALM input A contact */
#define TLM_SIG_ENCODER          0x08000000 /* the position counter counts the encoder */
#define TLM_SIG_FIXED            0x13000000 /* bits 24, 25, 28: always set */
#define TLM_SIG_DEFAULT          (TLM_SIG_FIXED | TLM_SIG_PULSE_INDIV_POS)

/* Register 7, origin-return configuration. */
#define TLM_ORIGIN_OLS   0xF0C40 /* stop on OLS */
#define TLM_ORIGIN_Z     0x20    /* after OLS, go on to the next Z mark */
#define TLM_ORIGIN_OLS_Z (TLM_ORIGIN_OLS | TLM_ORIGIN_Z)

/* What initialisation writes to every axis, the defaults of the test program's settings pages:
 * registers 0 to 2, then register 3 the rate of a ramp of TLM_INIT_ACCEL_MS between FL and FH,
 * then TLM_INIT_REGISTERS, {register, value} pairs in the order they are written. */
#define TLM_INIT_PRESET_AMOUNT 1500 /* register 0, pulses */
#define TLM_INIT_FL_SPEED      500  /* register 1, pulses per second */
#define TLM_INIT_FH_SPEED      5000 /* register 2, pulses per second */
#define TLM_INIT_ACCEL_MS      1000 /* milliseconds from FL to FH */
#define TLM_INIT_REGISTERS                                                                                             \
    {                                                                                                                  \
        {TLM_REG_4, TLM_REG_4_INIT}, {TLM_REG_5, 0}, {TLM_REG_SIGNAL, TLM_SIG_DEFAULT},                                \
            {TLM_REG_ORIGIN, TLM_ORIGIN_OLS}, {TLM_REG_8, TLM_REG_8_INIT}, {TLM_REG_POSITION, 0}, {TLM_REG_10, 0},     \
            {TLM_REG_11, 0}, {TLM_REG_17, 0}, {TLM_REG_18, 0}, {TLM_REG_19, 0}, {TLM_REG_23, 0}, {TLM_REG_24, 0},      \
            {TLM_REG_25, 0}, {TLM_REG_26, 0}, {                                                                        \
            TLM_REG_27, 0                                                                                              \
        }                                                                                                              \
    }

/* Register 12: the bits of the current speed that the test program and the library use. */
#define TLM_SPEED_BITS 0x7FFF

/* Register 13, operation status. */
#define TLM_OP_OPERATING     0x0001
#define TLM_OP_ACCEL         0x0002
#define TLM_OP_DECEL         0x0004
#define TLM_OP_AT_FH         0x0008
#define TLM_OP_END_PRESET    0x0010 /* end cause of the last operation: */
#define TLM_OP_END_STOP      0x0020
#define TLM_OP_END_PLUS_ELS  0x0040
#define TLM_OP_END_MINUS_ELS 0x0080
#define TLM_OP_END_ORIGIN    0x0100
#define TLM_OP_END_MASK      0x01F0
#define TLM_OP_INT_LATCHED   0x1000 /* interrupt status latched, not yet read */

/* Register 14, input status (after the contact settings). */
#define TLM_IN_PLUS_ELS  0x01
#define TLM_IN_MINUS_ELS 0x02
#define TLM_IN_DLS       0x04
#define TLM_IN_OLS       0x08
#define TLM_IN_INPOS     0x10
#define TLM_IN_SVALM     0x20
#define TLM_IN_Z         0x80

/* ---- Status bytes ---- */

/* Status 1 (tlmio_status1Read). */
#define TLM_ST1_ACCEL     0x01
#define TLM_ST1_DECEL     0x02
#define TLM_ST1_OPERATING 0x04
#define TLM_ST1_PLUS_ELS  0x08
#define TLM_ST1_MINUS_ELS 0x10
#define TLM_ST1_DLS       0x20
#define TLM_ST1_DLS_HOLD  0x40 /* DLS holds the running move at FL */
#define TLM_ST1_OLS       0x80

/* Status 2 (tlmio_status2Read). */
#define TLM_ST2_Z         0x01
#define TLM_ST2_SVALM     0x02
#define TLM_ST2_LIMIT_END 0x04 /* the last operation ended on a limit */
#define TLM_ST2_INPOS     0x08
#define TLM_ST2_MINUS     0x10 /* the running or last operation went towards minus */
#define TLM_ST2_SVON      0x20 /* servo-on output on */
#define TLM_ST2_SVRST     0x40 /* servo-reset output on */

/* Interrupt status (tlmio_intstatusRead; cleared by the read). */
#define TLM_INT_OPERATION_END 0x04
#define TLM_INT_PRESET_END    0x10
#define TLM_INT_FEED_END      (TLM_INT_PRESET_END | TLM_INT_OPERATION_END)

#endif /* TELLAM_CONTROLLER_H */
