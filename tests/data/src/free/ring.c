/* C part: a byte ring buffer, a const CRC table and static state. */
typedef unsigned int u32;

static unsigned char ring_bytes[1024];
static unsigned ring_head, ring_tail;
u32 crc_seed = 0xffffffffu;
const char version_text[] = "freestanding treemap sample 1.0";

static const u32 crc_nibbles[16] = {
    0x00000000, 0x1db71064, 0x3b6e20c8, 0x26d930ac, 0x76dc4190, 0x6b6b51f4, 0x4db26158, 0x5005713c,
    0xedb88320, 0xf00f9344, 0xd6d6a3e8, 0xcb61b38c, 0x9b64c2b0, 0x86d3d2d4, 0xa00ae278, 0xbdbdf21c,
};

void ring_put(unsigned char b)
{
    ring_bytes[ring_head++ % sizeof ring_bytes] = b;
}

int ring_get(void)
{
    if (ring_tail == ring_head)
        return -1;
    return ring_bytes[ring_tail++ % sizeof ring_bytes];
}

u32 crc32_update(u32 crc, const unsigned char *p, unsigned n)
{
    while (n--) {
        crc ^= *p++;
        crc = (crc >> 4) ^ crc_nibbles[crc & 15];
        crc = (crc >> 4) ^ crc_nibbles[crc & 15];
    }
    return crc;
}
