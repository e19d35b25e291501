// Hashes of the 72 voices of the load benchmark's 1 GiB song, recorded before synthesis was
// reworked: a faster load must still produce these bytes.
#pragma once

#include <cstdint>

constexpr std::uint32_t LOAD_NOTE_LENGTH = 14912000;
constexpr int LOAD_VOICES = 72;
constexpr std::uint64_t LOAD_VOICE_CHECKSUMS[LOAD_VOICES] = {
    0xb30917060592ddd2u, 0xe78b8d28375b056au, 0x04f5b01c706a8b9eu, 0x38fa32a2a9c24934u,
    0x80c7ac1027b8bc62u, 0x16e81d28b3e0c532u, 0x4ec2ed981f60f4cfu, 0x975f13cfce44e290u,
    0xa1875fbdf445ff06u, 0x8c4831534cf8b865u, 0x95876f8231aefa0bu, 0xa65ff58b40563d95u,
    0x70bad1ddd3fb7bd0u, 0x5910f231e3ca2ddeu, 0x2ab6b8e759d2d92du, 0xdf9b149b031842c1u,
    0x276990a83f3922a8u, 0xdbc669e448bbbda6u, 0xcbc85390e5a2334du, 0x3ce3128eeb68e35eu,
    0xd4f8a3382b8617d5u, 0x39c1f49083ec8affu, 0x28426eea9bae3999u, 0xf9d73753c87bff08u,
    0x9f248a8162516b48u, 0xcee102c2635d6dd1u, 0x4d48b089a1c0807du, 0x993a75083effe59eu,
    0x81432a1c87bb854du, 0x34711985dff1fb37u, 0x789bc85e8c76c762u, 0xc7a3bdf2a04dfff4u,
    0x3dc35ee7f910b330u, 0x3fddd46b458d4b84u, 0x1f513753883a9799u, 0xe61da56f6f8e6c36u,
    0x3ffeebff63a11198u, 0x665290abc0064963u, 0x4322094154a6b45au, 0x664d4fd41f37badfu,
    0x060e9c4fd11a50a6u, 0x3758ca3e74ece9b3u, 0x0af07cd31215338eu, 0xd80fab19c61105c5u,
    0x16b086008ffcb137u, 0x81f74aa3f760a7f3u, 0xe1e1bba8a809ad06u, 0x58083504e4349883u,
    0x1cccaf9114ab4c02u, 0x0ed4c1ad28fe605du, 0xdab51e5bfe4149efu, 0xa34199ca57fd18f8u,
    0x0ba695f16b1b190fu, 0x3525ebde0c0e5310u, 0xdebffad2c1d43468u, 0x72aac2fd6a853680u,
    0x33268db94af2120bu, 0x4395e3c23a88502fu, 0x8b93c4cd458398cau, 0x6448375fc2483cb2u,
    0x43835788dcc1ac77u, 0xf9f6df14560b9563u, 0x862d6f8363f4ef8du, 0x17955eb29267e6e1u,
    0xcbee40721f4d2cb5u, 0x4fb6bcac9ff6445eu, 0x7ad47c9bd4abbfb2u, 0x1904667dc392b2a6u,
    0xfffc8b6f8182085fu, 0x257b55bbc21d2477u, 0xe72800f1688a5788u, 0x102696e8bf2e41f8u,
};
