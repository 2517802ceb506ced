"""Reads back what a compiled resource file (.res) holds: its strings, version values, icons and
manifests, by the layout of the 32-bit resource file format."""
import struct

RT_ICON, RT_STRING, RT_VERSION, RT_MANIFEST = 3, 6, 16, 24


def _id(data, at):
    """An ordinal (0xFFFF, number) or a NUL-ended UTF-16 name; returns it and the offset after."""
    if struct.unpack_from("<H", data, at)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def _align(at):
    return (at + 3) & ~3


def entries(data):
    """Yields (type, name, language, bytes) for each resource, past the empty first entry."""
    at = 0
    while at < len(data):
        size, header = struct.unpack_from("<II", data, at)
        kind, after = _id(data, at + 8)
        name, after = _id(data, after)
        language = struct.unpack_from("<H", data, _align(after) + 6)[0]
        body = data[at + header : at + header + size]
        if header != 32 or size != 0:
            yield kind, name, language, body
        at = _align(at + header + size)


def _version_values(node, values):
    """Gathers the string values under a VERSIONINFO node into values, by key."""
    length, value_length, is_text = struct.unpack_from("<HHH", node, 0)
    key, after = _id(node, 6)
    at = _align(after)
    if is_text and value_length:
        values[key] = node[at : at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        at += 2 * value_length
    elif value_length:
        at += value_length
    at = _align(at)
    while at < length:
        child_length = struct.unpack_from("<H", node, at)[0]
        _version_values(node[at : at + child_length], values)
        at = _align(at + child_length)


def read(path):
    """What the .res file at path holds: {'strings': {id: text}, 'version': {key: value},
    'icons': [image bytes], 'manifests': {id: bytes}}."""
    with open(path, "rb") as file:
        data = file.read()
    held = {"strings": {}, "version": {}, "icons": [], "manifests": {}}
    for kind, name, _, body in entries(data):
        if kind == RT_STRING:
            at = 0
            for index in range(16):
                length = struct.unpack_from("<H", body, at)[0]
                if length:
                    text = body[at + 2 : at + 2 + 2 * length].decode("utf-16-le")
                    held["strings"][(name - 1) * 16 + index] = text
                at += 2 + 2 * length
        elif kind == RT_VERSION:
            _version_values(body, held["version"])
        elif kind == RT_ICON:
            held["icons"].append(body)
        elif kind == RT_MANIFEST:
            held["manifests"][name] = body
    return held
