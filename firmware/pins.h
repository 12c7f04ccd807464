// Which pin of the ATmega328P drives each of the five outputs. One place for
// the firmware and for the simulated board, so both agree on the wiring.
//
// Ports 1 to 5 are Arduino Uno/Nano pins D4 to D8 (PD4-PD7, PB0), a row of
// plain pins that no board function needs:
//  - D0/D1 are the UART, and on an Uno also the USB serial chip;
//  - D2/D3 are the external interrupts INT0/INT1, kept for inputs (and
//    simavr polls a driven INT pin every two cycles, a core's worth of work);
//  - D10 to D13 are SPI and the programming header; D13 also carries the
//    on-board LED, which the bootloader blinks after every reset: a relay
//    there would click on each reset;
//  - A4/A5 are I2C.
#ifndef TARNWICK_FIRMWARE_PINS_H
#define TARNWICK_FIRMWARE_PINS_H

#include <stdint.h>

namespace pins {

constexpr uint8_t kCount = 5;
// Port letter and bit for output index 0 to 4.
constexpr char kPort[kCount] = {'D', 'D', 'D', 'D', 'B'};
constexpr uint8_t kBit[kCount] = {4, 5, 6, 7, 0};
// The pins' names on an Uno or Nano, for people wiring relays.
constexpr const char* kBoardName[kCount] = {"D4", "D5", "D6", "D7", "D8"};

// The bits of one port's register that carry outputs.
inline uint8_t mask(char port) {
  uint8_t bits = 0;
  for (uint8_t i = 0; i < kCount; ++i)
    if (kPort[i] == port) bits = static_cast<uint8_t>(bits | (1u << kBit[i]));
  return bits;
}

// One port's register bits for a set of outputs (bit i = output i on).
inline uint8_t bits(char port, uint8_t outputs) {
  uint8_t out = 0;
  for (uint8_t i = 0; i < kCount; ++i)
    if (kPort[i] == port && (outputs & (1u << i))) out = static_cast<uint8_t>(out | (1u << kBit[i]));
  return out;
}

}  // namespace pins

#endif
