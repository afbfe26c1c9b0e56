// Writes a captured collector stream for the psdump benchmark: a hello
// packet, then data packets of the records that several threads' requests
// make (HTTP start, an EJB call with SQL statements inside, a JMS send, the
// HTTP finish or now and then an HTTP error), each packet holding runs of
// records of one thread after another as an event agent drains the queues.
//
//   psdump_gencapture FILE [RECORDS] [THREADS]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/Wire.h"

using psdump_test::Wire;

namespace {

const char* const kPages[] = {
    "/shop/cart",       "/shop/checkout",        "/shop/search?q=tea", "/account/orders",
    "/account/profile", "/catalog/item?id=1234", "/catalog/list",      "/help"};

struct ThreadGen {
  uint32_t id;
  uint64_t n = 0;      // requests made
  int step = 0;        // next record of the current request
  uint64_t clock = 0;  // microseconds
  int64_t cpu = 0;     // nanoseconds
  unsigned rng;

  unsigned next() {
    rng = rng * 1103515245u + 12345u;
    return (rng >> 8) & 0xFFFF;
  }

  void head(Wire& w, unsigned depth) {
    clock += 1000 * (next() % 4);  // the wall clock has millisecond steps
    cpu += 20000 + next() % 50000;
    w.head(id, depth, static_cast<uint32_t>(1700000000 + clock / 1000000),
           static_cast<uint32_t>(clock % 1000000), static_cast<uint64_t>(cpu));
  }

  // Appends the next record of this thread.
  void record(Wire& w) {
    const std::string page = kPages[(id + n) % 8];
    switch (step) {
      case 0:
        w.u8(4);
        head(w, 1);
        w.u8(1).text("GET " + page).text("DemoShop").text(page).text("worker").u8(2).end();
        break;
      case 1:
        w.u8(6);
        head(w, 2);
        w.u8(1).text("OrderBean.find").text("DemoShop").text("ejb/OrderBean").u8(2).end();
        break;
      case 2:
      case 4:
      case 6:
        w.u8(9);
        head(w, 3);
        w.u8(2)
            .text("jdbc/shop")
            .text("SELECT id, total, status, created FROM orders WHERE customer = ? AND page = " +
                  std::to_string(step / 2) + " ORDER BY created DESC");
        w.end();
        break;
      case 3:
      case 5:
      case 7:
        w.u8(10);
        head(w, 3);
        w.u8(2).end();
        break;
      case 8:
        w.u8(7);
        head(w, 2);
        w.u8(2).end();
        break;
      case 9:
        w.u8(25);
        head(w, 2);
        w.text("queue/orders").text("OrderPlaced").text("order-" + std::to_string(n)).u8(2).end();
        break;
      case 10:
        w.u8(26);
        head(w, 2);
        w.u8(2).end();
        break;
      default:
        w.u8(n % 50 == 49 ? 50 : 5);
        head(w, 1);
        w.u8(2).end();
        break;
    }
    if (++step == 12) {
      step = 0;
      ++n;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: psdump_gencapture FILE [RECORDS] [THREADS]\n");
    return 1;
  }
  const uint64_t records = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
  const unsigned threadCount = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 8;
  std::vector<ThreadGen> threads;
  for (unsigned t = 0; t < threadCount; ++t) {
    threads.push_back(ThreadGen{0x7f001000u + t * 0x100u, 0, 0, 0, 0, 17u + t});
  }
  FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  Wire hello;
  hello.u32(2000).u8(100).u8(1).u8(1).u64(1700000000000ull).end();
  hello.u8(101)
      .u8(200)
      .u8(6)
      .u8(0)
      .u8(2)
      .text("agent")
      .text("<NO CLUSTER NAME>")
      .text("node")
      .text("server1")
      .u32(9060)
      .end();
  std::fwrite(hello.b.data(), 1, hello.b.size(), f);
  uint64_t written = 0;
  unsigned turn = 0;
  while (written < records) {
    // One packet: runs of up to 40 records of each thread in turn.
    Wire body;
    uint32_t count = 0;
    for (unsigned k = 0; k < threadCount && written + count < records; ++k) {
      ThreadGen& g = threads[(turn + k) % threadCount];
      const unsigned run = 1 + g.next() % 40;
      for (unsigned i = 0; i < run && written + count < records; ++i, ++count) g.record(body);
    }
    ++turn;
    Wire packet;
    packet.packet(count);
    std::fwrite(packet.b.data(), 1, packet.b.size(), f);
    std::fwrite(body.b.data(), 1, body.b.size(), f);
    written += count;
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
