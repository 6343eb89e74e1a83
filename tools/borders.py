#!/usr/bin/env python3
"""Natural Earth's countries and first-level regions (1:50m), as Debian's
r-cran-rnaturalearthdata packs them in R's lazy-load database, written as
the map host's borders file:

    borders.py RDATA_DIR OUT

OUT: "PTB1", then for each area: kind (b'C' country, b'R' region), its
ISO 3166 alpha-2 code (two bytes, blank when it has none), its name
(u16 length, UTF-8), its rings (u32 count; each a u32 count of points,
each point two i32, longitude and latitude in millionths of a degree).
Little-endian throughout.
"""
import gzip, lzma, struct, sys, zlib

# R's serialization (XDR): only what sp's SpatialPolygonsDataFrame holds.
NIL, SYM, LIST, CLO, ENV, PROM, LANG, CHAR, LGL, INT, REAL, STR, VEC, S4 = \
    254, 1, 2, 3, 4, 5, 6, 9, 10, 13, 14, 16, 19, 25
REF, GLOBAL, EMPTY, BASE, MISSING, BASENS = 255, 253, 242, 241, 251, 250


class Reader:
    def __init__(self, data):
        self.data, self.at, self.refs = data, 0, []

    def ints(self, n):
        v = struct.unpack_from('>%di' % n, self.data, self.at)
        self.at += 4 * n
        return v

    def length(self):
        n = self.ints(1)[0]
        if n == -1:
            hi, lo = self.ints(2)
            n = (hi << 32) + lo
        return n

    def item(self):
        flags = self.ints(1)[0]
        kind, has_attr, has_tag = flags & 0xff, flags & (1 << 9), flags & (1 << 10)
        if kind in (NIL, GLOBAL, EMPTY, BASE, MISSING, BASENS):
            return None
        if kind == REF:
            index = flags >> 8 or self.ints(1)[0]
            return self.refs[index - 1]
        if kind == SYM:
            name = self.item()
            self.refs.append(name)
            return name
        if kind == ENV:
            env = {}
            self.refs.append(env)
            self.ints(1)
            for _ in range(4):
                self.item()
            return env
        if kind in (LIST, LANG, CLO, PROM):
            attrs = self.item() if has_attr else None
            tag = self.item() if has_tag else None
            car = self.item()
            cdr = self.item()
            pairs = [(tag, car)] + (cdr if isinstance(cdr, list) else [])
            return pairs
        if kind == CHAR:
            n = self.ints(1)[0]
            if n == -1:
                return None
            latin1 = (flags >> 12) & 4 # else UTF-8 or ASCII
            text = self.data[self.at:self.at + n].decode('latin-1' if latin1 else 'utf-8')
            self.at += n
            return text
        if kind in (LGL, INT):
            value = list(self.ints(self.length()))
        elif kind == REAL:
            n = self.length()
            value = list(struct.unpack_from('>%dd' % n, self.data, self.at))
            self.at += 8 * n
        elif kind in (STR, VEC):
            value = [self.item() for _ in range(self.length())]
        elif kind == S4:
            value = None
        else:
            raise ValueError('R type %d not read' % kind)
        attrs = dict(self.item()) if has_attr else {}
        return {'value': value, **attrs} if kind == S4 or attrs else value


def unserialize(data):
    if data[:2] != b'X\n':
        raise ValueError('not R data in XDR form')
    reader = Reader(data)
    reader.at = 2
    version = reader.ints(3)[0]
    if version == 3: # the native encoding's name follows
        skip = reader.ints(1)[0]
        reader.at += skip
    return reader.item()


def named(vector):
    return dict(zip(vector['names'], vector['value']))


def lazy_load(folder, name):
    """The object name of the package's data: Rdata.rdx indexes Rdata.rdb."""
    index = named(unserialize(gzip.decompress(open(folder + '/Rdata.rdx', 'rb').read())))
    offset, length = named(index['variables'])[name]
    with open(folder + '/Rdata.rdb', 'rb') as f:
        f.seek(offset)
        block = f.read(length)
    kind, body = block[4:5], block[5:]
    if kind == b'Z':
        raw = lzma.decompress(body, format=lzma.FORMAT_RAW, filters=[{'id': lzma.FILTER_LZMA2, 'preset': 9}])
    elif kind == b'2':
        import bz2
        raw = bz2.decompress(body)
    elif kind == b'0':
        raw = body
    else:
        raw = zlib.decompress(block[4:])
    return unserialize(raw)


def areas(frame, kind, name_field):
    columns = named(frame['data'])
    for k, shape in enumerate(frame['polygons']):
        code = columns['iso_a2'][k] or ''
        name = columns[name_field][k] or ''
        rings = []
        for polygon in shape['Polygons']:
            coords = polygon['coords']['value']
            n = len(coords) // 2 # a matrix of n rows, its columns one after the other
            rings.append([(coords[i], coords[n + i]) for i in range(n)])
        yield kind, code if len(code) == 2 else '', name, rings


def write(out, found):
    with open(out, 'wb') as f:
        f.write(b'PTB1')
        for kind, code, name, rings in found:
            encoded = name.encode('utf-8')
            f.write(kind + (code or '  ').encode('ascii') + struct.pack('<H', len(encoded)) + encoded)
            f.write(struct.pack('<I', len(rings)))
            for ring in rings:
                f.write(struct.pack('<I', len(ring)))
                f.write(b''.join(struct.pack('<ii', round(x * 1e6), round(y * 1e6)) for x, y in ring))


def main():
    folder, out = sys.argv[1:3]
    countries = areas(lazy_load(folder, 'countries50'), b'C', 'name_long')
    regions = areas(lazy_load(folder, 'states50'), b'R', 'name')
    write(out, list(countries) + list(regions))


if __name__ == '__main__':
    main()
