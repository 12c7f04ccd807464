// Firmware for an ATmega328P at 16 MHz (Arduino Uno/Nano): five outputs
// switched by three-character commands on the UART, 8N1 at BAUD (9600 unless
// built otherwise).
//
// Everything happens in interrupts: a received byte is read, carried out and
// its pin switched inside the receive interrupt, and the answer leaves through
// the transmit-empty interrupt. Nothing ever waits for the line, so a command
// that arrives while an answer is still going out switches its pin at once.

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>
#include <util/setbaud.h>

#include "command.h"
#include "pins.h"

namespace {

CommandReader reader;

// Answers waiting for the transmitter. A power of two, so indices wrap cheaply.
constexpr uint8_t kQueueSize = 64;
char queue[kQueueSize];
volatile uint8_t queueHead = 0;  // written by the receive interrupt
volatile uint8_t queueTail = 0;  // written by the transmit interrupt

// Worked out once at start-up.
uint8_t maskD, maskB;

void show(uint8_t outputs) {
  // One write per port: outputs that change together ("P90") change within a cycle.
  PORTD = static_cast<uint8_t>((PORTD & ~maskD) | pins::bits('D', outputs));
  PORTB = static_cast<uint8_t>((PORTB & ~maskB) | pins::bits('B', outputs));
}

// Queues a whole answer, or drops it when there is no room: a board flooded
// with commands keeps switching at once and loses answers, never pulses.
void send(const char* text) {
  uint8_t length = 0;
  while (text[length]) ++length;
  const uint8_t used = static_cast<uint8_t>(queueHead - queueTail) & (kQueueSize - 1);
  if (length > kQueueSize - 1 - used) return;
  uint8_t head = queueHead;
  for (uint8_t i = 0; i < length; ++i) {
    queue[head] = text[i];
    head = static_cast<uint8_t>(head + 1) & (kQueueSize - 1);
  }
  queueHead = head;
  UCSR0B |= _BV(UDRIE0);
}

void take(char c) {
  const char* answer = reader.take(c);
  show(reader.outputs());
  if (answer) send(answer);
}

}  // namespace

ISR(USART_RX_vect) {
  const uint8_t status = UCSR0A;
  const char c = static_cast<char>(UDR0);
  // A lost byte, or one received with a framing error, stands for a byte that
  // is no part of any command: the command it hit is refused, not misread.
  if (status & _BV(DOR0)) take('\0');
  take((status & _BV(FE0)) ? '\0' : c);
}

ISR(USART_UDRE_vect) {
  const uint8_t tail = queueTail;
  if (tail == queueHead) {
    UCSR0B &= static_cast<uint8_t>(~_BV(UDRIE0));
    return;
  }
  UDR0 = static_cast<uint8_t>(queue[tail]);
  queueTail = static_cast<uint8_t>(tail + 1) & (kQueueSize - 1);
}

int main() {
  // Outputs low before they are driven: all off from power-up on.
  maskD = pins::mask('D');
  maskB = pins::mask('B');
  PORTD &= static_cast<uint8_t>(~maskD);
  PORTB &= static_cast<uint8_t>(~maskB);
  DDRD |= maskD;
  DDRB |= maskB;

  UBRR0H = UBRRH_VALUE;
  UBRR0L = UBRRL_VALUE;
#if USE_2X
  UCSR0A |= _BV(U2X0);
#else
  UCSR0A &= static_cast<uint8_t>(~_BV(U2X0));
#endif
  UCSR0C = _BV(UCSZ01) | _BV(UCSZ00);  // 8 data bits, no parity, 1 stop bit
  UCSR0B = _BV(RXEN0) | _BV(TXEN0) | _BV(RXCIE0);

  set_sleep_mode(SLEEP_MODE_IDLE);  // the UART keeps running in idle sleep
  sei();
  for (;;) sleep_mode();
}
