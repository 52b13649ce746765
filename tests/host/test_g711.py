"""G.711 routines called through the function pointers the host obtains."""
import pytest


@pytest.fixture(scope="module")
def fns(samplekit):
    f = samplekit.function
    return dict(ulaw=f("st_14linear2ulaw"), alaw=f("st_linear2alaw"),
                ulaw_dec=f("st_ulaw2linear16"), alaw_dec=f("st_alaw2linear16"))


def test_pyint16_is_short(samplekit):
    assert samplekit.ffi.typeof("PyInt16") is samplekit.ffi.typeof("short")


# A few rows of the worked cases (tests/cases/worked_cases.txt), through the
# host's conversion of a PyInt16 and of an unsigned char.
@pytest.mark.parametrize("x, ulaw, alaw", [
    (-1, 0x7E, 0x55), (1000, 0xCE, 0xFA), (32767, 0x80, 0xAA), (-32768, 0x00, 0x2A),
])
def test_encoders_worked_values(fns, x, ulaw, alaw):
    assert fns["ulaw"](x) == ulaw
    assert fns["alaw"](x) == alaw


@pytest.mark.parametrize("code, ulaw, alaw", [
    (0x00, -32124, -5504), (0x7F, 0, -848), (0xFF, 0, 848),
])
def test_decoders_worked_values(fns, code, ulaw, alaw):
    assert fns["ulaw_dec"](code) == ulaw
    assert fns["alaw_dec"](code) == alaw


def test_round_trips_over_every_code(fns):
    for code in range(256):
        assert fns["alaw"](fns["alaw_dec"](code)) == code
        assert fns["ulaw"](fns["ulaw_dec"](code)) == (0xFF if code == 0x7F else code)


def test_every_input_encodes_to_a_level_that_never_falls(fns):
    last_u = last_a = -40000
    for x in range(-32768, 32768, 7):
        u = fns["ulaw_dec"](fns["ulaw"](x))
        a = fns["alaw_dec"](fns["alaw"](x))
        assert u >= last_u and a >= last_a
        last_u, last_a = u, a


def test_arguments_are_converted_as_declared(fns):
    # PyInt16 is a C short: values outside it are refused by the host's
    # conversion, not wrapped by the module.
    with pytest.raises(OverflowError):
        fns["ulaw"](32768)
    with pytest.raises(OverflowError):
        fns["ulaw_dec"](256)
