#!/usr/bin/env python3
"""Writes the sample content of the local vendor server into resources/vendor/.

Everything is generated from the tables below: the catalogue version2.xml (invented
shops), the pages, one page and one favicon per shop site, and a harmless installer.
The favicons are drawn here pixel by pixel (no image library needed).

Usage: scripts/make-sample-vendor.py [OUTPUT_DIR]   (default: resources/vendor)
"""
import colorsys
import html
import os
import struct
import sys
import unicodedata

# (id, name, category, ranking or None, description)
SHOPS = [
    (1001, "Kleiderwolke", "Mode->Damen", 3, "Kleider, Blusen und Röcke aus leichten Stoffen."),
    (1002, "Nadelöhr Moden", "Mode->Damen", None, "Handgenähte Mode in kleinen Auflagen."),
    (1003, "Seidenfaden", "Mode->Damen", 14, "Tücher, Schals und feine Seide."),
    (1004, "Herrenzimmer Tuchwaren", "Mode->Herren", 9, "Anzüge, Hemden und Krawatten für jeden Anlass."),
    (1005, "Hosenträger & Co.", "Mode->Herren", None, "Alles, was hält: Gürtel, Hosenträger, Manschettenknöpfe."),
    (1006, "Kragenweite", "Mode->Herren", 22, "Hemden in 40 Kragenweiten."),
    (1007, "Sohlenglück", "Mode->Schuhe", 5, "Bequeme Schuhe für Damen und Herren."),
    (1008, "Schnürsenkel-Express", "Mode->Schuhe", None, "Schnürsenkel, Einlagen und Schuhpflege."),
    (1009, "Absatzkönig", "Mode->Schuhe", 30, "Pumps, Stiefel und Sandalen."),
    (1010, "Bitwerk Notebooks", "Technik->Computer->Notebooks", 1, "Leichte Notebooks mit langer Akkulaufzeit."),
    (1011, "Klapprechner-Stübchen", "Technik->Computer->Notebooks", None, "Gebrauchte und aufbereitete Notebooks."),
    (1012, "Tastenreich", "Technik->Computer->Zubehör", 12, "Tastaturen mit deutschem Layout, auch mit Ä, Ö und Ü."),
    (1013, "Kabelfuchs", "Technik->Computer->Zubehör", 7, "Kabel, Adapter und Steckerleisten."),
    (1014, "Mausefalle Peripherie", "Technik->Computer->Zubehör", None, "Mäuse, Trackballs und Mauspads."),
    (1015, "Linsenlicht", "Technik->Foto & Video", 16, "Objektive und Filter."),
    (1016, "Blendenzauber", "Technik->Foto & Video", None, "Kameras, Stative und Blitzgeräte."),
    (1017, "Funkturm Mobil", "Technik->Telefon", 8, "Telefone, Tarife und Zubehör."),
    (1018, "Hörerglück", "Technik->Telefon", None, "Schnurlose Telefone und Headsets."),
    (1019, "Tischlerei Eichenlust", "Haus & Garten->Möbel", 11, "Massivholzmöbel aus eigener Werkstatt."),
    (1020, "Sofawiese", "Haus & Garten->Möbel", None, "Sofas, Sessel und Kissen."),
    (1021, "Regalriese", "Haus & Garten->Möbel", 25, "Regale nach Maß."),
    (1022, "Gartenzwerg & Söhne", "Haus & Garten->Garten", 6, "Gartenfiguren, Töpfe und Pflanzen seit 1898."),
    (1023, "Beetfreude", "Haus & Garten->Garten", None, "Saatgut, Erde und Werkzeug."),
    (1024, "Gießkannen-Galerie", "Haus & Garten->Garten", 40, "Gießkannen aus Zink, Kupfer und Kunststoff."),
    (1025, "Lampenfieber Leuchten", "Haus & Garten->Beleuchtung", 18, "Lampen und Leuchtmittel."),
    (1026, "Dimmerwerk", "Haus & Garten->Beleuchtung", None, "Dimmer, Schalter und Lichtsteuerung."),
    (1027, "Bücherbrise", "Bücher & Medien->Bücher", 2, "Romane, Sachbücher und Hörbücher."),
    (1028, "Eselsohr Antiquariat", "Bücher & Medien->Bücher", None, "Alte und seltene Bücher."),
    (1029, "Seitenwind Verlagsshop", "Bücher & Medien->Bücher", 33, "Neuerscheinungen kleiner Verlage."),
    (1030, "Klangkiste", "Bücher & Medien->Musik", 10, "CDs, Schallplatten und Noten."),
    (1031, "Notenschlüssel", "Bücher & Medien->Musik", None, "Noten für Klavier, Gitarre und Chor."),
    (1032, "Flimmerkasten", "Bücher & Medien->Filme", 19, "Filme auf DVD und Blu-ray."),
    (1033, "Wolkenreiter Flüge", "Reisen->Flüge", 4, "Günstige Flüge in ganz Europa."),
    (1034, "Startbahn-Spezial", "Reisen->Flüge", None, "Last-Minute-Flüge ab deutschen Flughäfen."),
    (1035, "Kissenschlacht Hotels", "Reisen->Hotels", 15, "Hotels und Pensionen mit Frühstück."),
    (1036, "Herbergsvater", "Reisen->Hotels", None, "Ferienwohnungen an Nord- und Ostsee."),
    (1037, "Rucksackreisen Rübezahl", "Reisen->Pauschalreisen", 28, "Wanderreisen in die Berge."),
    (1038, "Gipfelstürmer", "Sport & Freizeit->Outdoor", 13, "Zelte, Schlafsäcke und Wanderschuhe."),
    (1039, "Zeltplatz-Zentrale", "Sport & Freizeit->Outdoor", None, "Campingzubehör aller Art."),
    (1040, "Kettenblatt Radsport", "Sport & Freizeit->Fahrrad", 21, "Fahrräder, Teile und Bekleidung."),
    (1041, "Speichenwerk", "Sport & Freizeit->Fahrrad", None, "Laufräder und Reparatursets."),
    (1042, "Ballgefühl", "Sport & Freizeit->Ballsport", 35, "Bälle, Tore und Trikots."),
    (1043, "Weinkontor Rebenhang", "Lebensmittel->Wein", 17, "Weine von kleinen Winzern."),
    (1044, "Korkenzieher Kellerei", "Lebensmittel->Wein", None, "Sekt, Wein und Zubehör."),
    (1045, "Kaffeemühle Bohnenglück", "Lebensmittel->Kaffee & Tee", 23, "Frisch gerösteter Kaffee."),
    (1046, "Teestube Morgentau", "Lebensmittel->Kaffee & Tee", None, "Grüner, schwarzer und Kräutertee."),
    (1047, "Brotkorb Direkt", "Lebensmittel->Feinkost", 45, "Brot, Käse und Aufstriche vom Erzeuger."),
    (1048, "Kreiselwerk Spielwaren", "Spielzeug->Holzspielzeug", 20, "Holzspielzeug aus dem Erzgebirge."),
    (1049, "Bauklotz Bande", "Spielzeug->Holzspielzeug", None, "Bauklötze, Murmelbahnen und Puppenhäuser."),
    (1050, "Würfelturm", "Spielzeug->Gesellschaftsspiele", 26, "Brettspiele, Kartenspiele und Puzzles."),
    (1051, "Apotheke zum Löwenzahn", "Gesundheit->Apotheke", 24, "Arzneimittel und Drogerie."),
    (1052, "Pflasterpost", "Gesundheit->Apotheke", None, "Verbandsmaterial und Erste Hilfe."),
    (1053, "Brillenfuchs", "Gesundheit->Optik", 31, "Brillen und Kontaktlinsen."),
    (1054, "Zündkerze Teileversand", "Auto & Motorrad->Ersatzteile", 27, "Ersatzteile für ältere Fahrzeuge."),
    (1055, "Schraubenkönig", "Auto & Motorrad->Ersatzteile", None, "Schrauben, Muttern und Werkzeug."),
    (1056, "Helmpflicht", "Auto & Motorrad->Motorradbekleidung", 38, "Helme, Jacken und Handschuhe."),
    (1057, "Pfotenparadies", "Tier->Hund", 29, "Futter und Zubehör für Hunde."),
    (1058, "Kratzbaum-Kaufhaus", "Tier->Katze", None, "Kratzbäume, Körbe und Spielzeug für Katzen."),
    (1059, "Goldkehlchen Vogelbedarf", "Tier->Vogel", 50, "Käfige, Futter und Nistkästen."),
    (1060, "Ringelblume Schmuck", "Schmuck & Uhren->Schmuck", 32, "Silberschmuck aus eigener Werkstatt."),
    (1061, "Zeitzeiger Uhren", "Schmuck & Uhren->Uhren", None, "Armbanduhren und Wecker."),
    (1062, "Pinselstrich Künstlerbedarf", "Büro & Schreibwaren->Künstlerbedarf", 36, "Farben, Pinsel und Leinwände."),
    (1063, "Tintenklecks", "Büro & Schreibwaren->Schreibwaren", None, "Füller, Tinte und Papier."),
    (1064, "Ordnerwelt", "Büro & Schreibwaren->Bürobedarf", 42, "Ordner, Locher und Bürostühle."),
]
# A shop whose site has no favicon: the program must skip it quietly.
NO_FAVICON = {1064}

SEARCH_ENGINES = [("Shops", "shops"), ("Produkte", "products"), ("Preisvergleich", "compare"), ("Web", "web")]

NEWS = [("winter2026", "Das große Wintergewinnspiel", "2026-12-01",
         "Bis Ende März verlosen wir jede Woche einen Einkaufsgutschein über 50 €. "
         "Machen Sie mit – die Teilnahme ist kostenlos!")]

# 5x7 capital letters, one string of 7 rows per letter.
FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "J": ["00111", "00010", "00010", "00010", "00010", "10010", "01100"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "10001", "11001", "10101", "10011", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    "Y": ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
}


def slug(name):
    text = name.lower().replace("ä", "ae").replace("ö", "oe").replace("ü", "ue").replace("ß", "ss")
    text = unicodedata.normalize("NFKD", text).encode("ascii", "ignore").decode()
    out = "".join(c if c.isalnum() else "-" for c in text)
    while "--" in out:
        out = out.replace("--", "-")
    return out.strip("-")


def shop_colour(index):
    r, g, b = colorsys.hsv_to_rgb((index * 0.161) % 1.0, 0.65, 0.80)
    return int(r * 255), int(g * 255), int(b * 255)


def inside(shape, x, y):
    """Whether the point (in 0..1 coordinates) lies in the shape."""
    cx, cy = x - 0.5, y - 0.5
    if shape == 0:  # circle
        return cx * cx + cy * cy <= 0.25
    if shape == 1:  # rounded square
        r = 0.18
        qx, qy = max(abs(cx) - (0.5 - r), 0), max(abs(cy) - (0.5 - r), 0)
        return qx * qx + qy * qy <= r * r
    return abs(cx) <= 0.5 and abs(cy) <= 0.5  # full square (drawn with a darker band)


def draw_icon(size, letter, colour, shape):
    """Rows of (r, g, b, a) pixels, top row first: a shape with a white letter."""
    sub = 4
    scale = 2 if size == 16 else 3
    glyph = FONT.get(letter, FONT["Q"])
    gx = (size - 5 * scale) // 2
    gy = (size - 7 * scale) // 2 - (1 if shape == 2 and size == 32 else 0)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = sum(inside(shape, (px + (sx + 0.5) / sub) / size, (py + (sy + 0.5) / sub) / size)
                       for sx in range(sub) for sy in range(sub))
            alpha = round(255 * hits / (sub * sub))
            r, g, b = colour
            if shape == 2 and py >= size * 3 // 4:
                r, g, b = r * 2 // 3, g * 2 // 3, b * 2 // 3
            lx, ly = (px - gx) // scale, (py - gy) // scale
            if 0 <= lx < 5 and 0 <= ly < 7 and px >= gx and py >= gy and glyph[ly][lx] == "1" and alpha:
                r, g, b = 255, 255, 255
            row.append((r, g, b, alpha))
        rows.append(row)
    return rows


def bmp_entry(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # transparency comes from the alpha channel
    return header + pixels + mask


def make_ico(letter, colour, shape):
    images = [bmp_entry(draw_icon(s, letter, colour, shape)) for s in (16, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def first_letter(name):
    base = unicodedata.normalize("NFKD", name[0]).encode("ascii", "ignore").decode().upper()
    return base or "Q"


def page(title, body, head_extra=""):
    return f"""<!DOCTYPE html>
<html lang="de">
<head>
<meta charset="utf-8">
<title>{html.escape(title)}</title>
<link rel="stylesheet" href="/style.css">
{head_extra}</head>
<body>
<header><a class="logo" href="/">Quorvantis</a> <span class="claim">Ihr Einkaufsbegleiter</span></header>
<main>
{body}
</main>
<footer>Lokaler Beispielserver &middot; alle Shops sind erfunden</footer>
</body>
</html>
"""


CSS = """body { font-family: "DejaVu Sans", Verdana, sans-serif; margin: 0; background: #f4f6f8; color: #223; }
header { background: linear-gradient(90deg, #1d4e89, #3a7bd5); color: #fff; padding: 10px 16px; }
header .logo { color: #fff; font-weight: bold; font-size: 1.4em; text-decoration: none; }
header .claim { margin-left: 12px; opacity: .85; }
main { max-width: 760px; margin: 16px auto; background: #fff; padding: 16px 24px; border-radius: 6px;
       box-shadow: 0 1px 4px rgba(0,0,0,.12); }
footer { text-align: center; font-size: .8em; color: #778; margin: 12px; }
h1 { color: #1d4e89; font-size: 1.4em; }
ul.shops li { margin: 4px 0; }
.cat { color: #889; font-size: .85em; margin-left: 6px; }
.vote { display: inline-block; width: 200px; margin: 6px; padding: 8px; border: 1px solid #cdd; border-radius: 4px; }
.banner { display: flex; align-items: center; gap: 12px; padding: 8px; }
.banner input { flex: 1; padding: 4px; }
.shop { border-left: 6px solid var(--shop, #3a7bd5); padding-left: 12px; }
"""


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = "wb" if isinstance(data, bytes) else "w"
    with open(path, mode, **({} if mode == "wb" else {"encoding": "utf-8", "newline": "\n"})) as f:
        f.write(data)


def catalogue():
    def q(text):  # ">" may stay as it is, so "Mode->Damen" reads naturally
        return text.replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             "<!-- Sample catalogue of the local vendor server; it puts its own address where the placeholder BASE stands. -->",
             "<quorvantis>",
             "  <url>{BASE}/download/quorvantis-setup.bin</url>",
             "  <version>2.2</version>",
             "  <requiredversion>2.0</requiredversion>",
             "  <check>2026-12-01</check>",
             "  <game>2027-03-31</game>",
             "  <shops>"]
    for sid, name, cat, rank, _ in SHOPS:
        rank_attr = f' ranking="{rank}"' if rank is not None else ""
        lines.append(f'    <shop id="{sid}" name="{q(name)}" site="{{BASE}}/sites/{slug(name)}" '
                     f'category="{q(cat)}"{rank_attr}/>')
    lines.append("  </shops>")
    lines.append("  <searchengines>")
    for name, typ in SEARCH_ENGINES:
        lines.append(f'    <search name="{q(name)}" type="{q(typ)}"/>')
    lines.append("  </searchengines>")
    lines.append("  <news>")
    for ident, title, date, text in NEWS:
        lines.append(f'    <newsitem ident="{q(ident)}" title="{q(title)}" date="{date}">{q(text)}</newsitem>')
    lines.append("  </news>")
    lines.append("</quorvantis>")
    return "\n".join(lines) + "\n"


def shop_list(shops):
    return "<ul class=\"shops\">\n" + "".join(
        f'<li><a href="/shop.php?id={sid}">{html.escape(name)}</a><span class="cat">{html.escape(cat)}</span></li>\n'
        for sid, name, cat, _, _ in shops) + "</ul>"


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "vendor")
    out = os.path.abspath(out)
    write(f"{out}/version2.xml", catalogue())
    write(f"{out}/style.css", CSS)

    tops = sorted((s for s in SHOPS if s[3] is not None and s[3] <= 10), key=lambda s: s[3])
    write(f"{out}/index.html", page("Quorvantis – Ihr Einkaufsbegleiter",
        "<h1>Willkommen bei Quorvantis</h1>\n<p>Quorvantis bringt Ihre Lieblingsshops in die Taskleiste. "
        "Dies ist der lokale Beispielserver: alle Shops, Angebote und Gewinnspiele sind erfunden.</p>\n"
        "<h2>Top-Shops</h2>\n" + shop_list(tops) +
        '\n<p><a href="/gewinnspiel.html">Zum Gewinnspiel</a> &middot; '
        '<a href="/topvotes.html?ref=software">Style-Voting</a></p>'))

    write(f"{out}/search-template.html", page("Suche: {SEARCH}",
        "<h1>Suchergebnisse</h1>\n<p>Sie haben nach <b>{SEARCH}</b> gesucht (Suchart: {TYPE}). "
        "{COUNT} Treffer:</p>\n<ul class=\"shops\">\n{RESULTS}</ul>"))

    write(f"{out}/404.html", page("Seite nicht gefunden",
        "<h1>Seite nicht gefunden</h1>\n<p>Diese Seite gibt es auf dem Beispielserver nicht. "
        '<a href="/">Zur Startseite</a></p>'))

    for ident, title, date, text in NEWS:
        write(f"{out}/news_{ident}.html", page(title,
            f"<h1>{html.escape(title)}</h1>\n<p class=\"cat\">{date}</p>\n<p>{html.escape(text)}</p>\n"
            "<p>Jede Woche ziehen wir unter allen Teilnehmern einen Gewinner. Die Gewinner werden per E-Mail "
            'benachrichtigt.</p>\n<p><a href="/gewinnspiel.html">Jetzt mitmachen</a></p>'))

    # The banners read their query in the page itself; unescape() copes with the
    # windows-1252 bytes the program sends (decodeURIComponent would reject %FC).
    banner_script = """<script>
function param(name) {
  var m = new RegExp('[?&]' + name + '=([^&]*)').exec(location.search);
  return m ? unescape(m[1]) : '';
}
window.onload = function () {
  var s = param('search'), c = param('category');
  document.getElementById('what').textContent = s ? 'Angebote zu \\u201E' + s + '\\u201C' : 'Aktuelle Angebote';
  document.getElementById('where').textContent = c ? 'Kategorie ' + c : 'alle Kategorien';
};
</script>
"""
    write(f"{out}/banner.html", page("Angebote",
        '<div class="banner"><div><h1 id="what">Aktuelle Angebote</h1><p id="where">alle Kategorien</p></div></div>\n'
        "<p>Hier zeigt der echte Server eine Galerie passender Angebote. Der Beispielserver zeigt nur, "
        "wonach gesucht wurde.</p>", banner_script))

    write(f"{out}/votingbanner.html", page("Style-Voting",
        "<h1>Style-Voting</h1>\n<p>Welcher Look gefällt Ihnen? Stimmen Sie ab!</p>\n"
        '<div class="vote">Look 1: Herbst in Rostrot</div><div class="vote">Look 2: Winter in Marineblau</div>\n'
        '<p><a href="/topvotes.html?ref=software">Tops</a> &middot; <a href="/flopvotes.html?ref=software">Flops</a></p>'))
    write(f"{out}/topvotes.html", page("Tops des Monats",
        "<h1>Die Tops des Monats</h1>\n<ol><li>Wollmantel in Camel (412 Stimmen)</li>"
        "<li>Strickschal mit Zopfmuster (388 Stimmen)</li><li>Lederstiefel in Cognac (301 Stimmen)</li></ol>"))
    write(f"{out}/flopvotes.html", page("Flops des Monats",
        "<h1>Die Flops des Monats</h1>\n<ol><li>Socken in Sandalen (97 Stimmen)</li>"
        "<li>Neonweste zum Abendkleid (64 Stimmen)</li><li>Pelzbesetzte Badeschlappen (41 Stimmen)</li></ol>"))
    write(f"{out}/gewinnspiel.html", page("Gewinnspiel",
        "<h1>Das große Wintergewinnspiel</h1>\n<p>Jede Woche ein Einkaufsgutschein über 50 € – "
        "teilnehmen können Sie direkt im Programm unter <i>Einstellungen → Gewinnspiel</i>.</p>\n"
        '<p>Einsendeschluss ist der 31.03.2027. <a href="/teilnahmebedingungen.html">Teilnahmebedingungen</a></p>'))
    write(f"{out}/teilnahmebedingungen.html", page("Teilnahmebedingungen",
        "<h1>Teilnahmebedingungen</h1>\n<ol>\n<li>Teilnehmen darf jede volljährige Person mit Wohnsitz in "
        "Deutschland, Österreich oder der Schweiz.</li>\n<li>Pro Person ist eine Teilnahme je Woche möglich.</li>\n"
        "<li>Die Gewinner werden per Los ermittelt und per E-Mail benachrichtigt.</li>\n"
        "<li>Eine Barauszahlung des Gewinns ist nicht möglich. Der Rechtsweg ist ausgeschlossen.</li>\n</ol>"))

    for index, (sid, name, cat, rank, text) in enumerate(SHOPS):
        s = slug(name)
        colour = shop_colour(index)
        hexcol = "#%02x%02x%02x" % colour
        write(f"{out}/sites/{s}/index.html", page(name,
            f'<div class="shop" style="--shop: {hexcol}">\n<h1>{html.escape(name)}</h1>\n'
            f'<p class="cat">{html.escape(cat.replace("->", " › "))}</p>\n<p>{html.escape(text)}</p>\n'
            "<p>Dies ist die Beispielseite eines erfundenen Shops.</p>\n</div>"))
        if sid not in NO_FAVICON:
            write(f"{out}/sites/{s}/favicon.ico", make_ico(first_letter(name), colour, index % 3))

    write(f"{out}/download/quorvantis-setup.bin",
          "#!/bin/sh\n# Sample installer of the local vendor server: it installs nothing.\n"
          'echo "Quorvantis sample installer ($*): nothing to install."\nexit 0\n')


if __name__ == "__main__":
    main()
