#!/usr/bin/env python3
"""Writes vendor server content with a large catalogue, for measuring the program at scale.

The pages of resources/vendor are copied; version2.xml gets COUNT shops with made-up
names in 400 categories of two levels (the largest, "Angebote->Alles für Haus und Hof",
holds 380 of 100,000: it sorts first, so the keyboard reaches it with Down and Right),
and every shop site gets its own 16x16 favicon of a colour of its own.

Usage: bench/make-large-vendor.py OUTPUT_DIR [COUNT]   (default 100000)
Serve it with: build/quorvantis-vendor-server --content OUTPUT_DIR --port N
"""
import os
import random
import shutil
import struct
import sys
from xml.sax.saxutils import quoteattr

FULL = 100000
AREAS = ["Angebote", "Bücher & Medien", "Computer", "Drogerie", "Elektronik", "Essen & Trinken", "Fahrzeuge",
         "Freizeit", "Garten", "Gesundheit", "Haushalt", "Kinder", "Kunst", "Mode", "Musik", "Reisen", "Schmuck",
         "Spielwaren", "Sport", "Tiere"]
GROUPS = ["Alles für Haus und Hof", "Bedarf", "Bestseller", "Einsteiger", "Ersatzteile", "Exklusiv", "Fachhandel",
          "Geschenke", "Großhandel", "Klassiker", "Marken", "Neuheiten", "Profis", "Regional", "Restposten",
          "Sammler", "Second Hand", "Sonderangebote", "Versand", "Zubehör"]
FIRST = ["Sonnen", "Mond", "Stern", "Wald", "Berg", "Fluss", "Wiesen", "Linden", "Eichen", "Nord", "Süd", "Alt",
         "Neu", "Gold", "Silber", "Kupfer", "Blau", "Rot", "Grün", "Weiß", "Rosen", "Tannen", "Mühlen", "Brücken"]
SECOND = ["hof", "haus", "laden", "markt", "werk", "stube", "kontor", "eck", "garten", "quelle", "insel", "tal",
          "blick", "zeit", "welt", "kiste", "truhe", "winkel", "platz", "brunnen"]
THIRD = ["Versand", "Handel", "Shop", "Manufaktur", "Outlet", "Direkt", "& Söhne", "Online", "Fachgeschäft", ""]
FORM = ["GmbH", "KG", "e.K.", "AG", "", "", ""]


def ico(seed):
    """A 16x16 32-bit ICO of one colour (1150 bytes)."""
    colour = bytes([seed & 0xFF, (seed >> 8) & 0xFF, (seed >> 16) & 0xFF, 0xFF])
    bitmap = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, 0, 0, 0, 0, 0) + colour * 256 + bytes(64)
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(bitmap), 22) + bitmap


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else FULL
    sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "vendor")
    shutil.rmtree(out, ignore_errors=True)
    shutil.copytree(sample, out, ignore=shutil.ignore_patterns("sites", "version2.xml", "*.jsonl"))
    # Category sizes for the full catalogue: 380 for the first, 120..379 for the others,
    # scaled to the total; a smaller catalogue is a random part of the same slots.
    leaves = [a + "->" + g for a in AREAS for g in GROUPS]
    sizes = [380] + [120 + (k * 37) % 260 for k in range(1, len(leaves))]
    scale = (FULL - 380) / sum(sizes[1:])
    sizes = [380] + [max(1, round(s * scale)) for s in sizes[1:]]
    sizes[-1] += FULL - sum(sizes)
    slots = [leaf for leaf, size in zip(leaves, sizes) for _ in range(size)]
    rng = random.Random(31)
    rng.shuffle(slots)
    slots = slots[:count]
    lines = []
    for i, category in enumerate(slots):
        shop_id = 10000 + i
        name = rng.choice(FIRST) + rng.choice(SECOND)
        third = rng.choice(THIRD)
        form = rng.choice(FORM)
        name = " ".join(p for p in (name, third, form) if p) + (f" {i}" if i % 7 == 0 else "")
        ranking = f' ranking="{rng.randint(1, 60)}"' if i % 9 == 0 else ""
        lines.append(f'    <shop id="{shop_id}" name={quoteattr(name)} site="{{BASE}}/sites/s{shop_id}" '
                     f'category={quoteattr(category)}{ranking}/>\n')
        site = os.path.join(out, "sites", f"s{shop_id}")
        os.makedirs(site)
        with open(os.path.join(site, "favicon.ico"), "wb") as f:
            f.write(ico(shop_id * 2654435761 >> 8))
    with open(os.path.join(out, "version2.xml"), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<quorvantis>\n'
                "  <url>{BASE}/download/quorvantis-setup.bin</url>\n  <version>2.2</version>\n"
                "  <requiredversion>2.0</requiredversion>\n  <check>2099-12-01</check>\n  <shops>\n")
        f.writelines(lines)
        f.write('  </shops>\n  <searchengines>\n    <search name="Shops" type="shops"/>\n'
                '    <search name="Web" type="web"/>\n  </searchengines>\n</quorvantis>\n')


if __name__ == "__main__":
    main()
