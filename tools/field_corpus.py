#!/usr/bin/python3
"""The field corpus: real volumes from Debian's data and test-data packages.

Fetches pinned packages with `apt-get download` (no root, nothing installed),
unpacks them with `dpkg-deb -x`, and writes every case into a cache outside the
repository as a file with a neutral name (case01.bin, ...) beside a manifest
that states each file's true layout, as read from the file's own header by a
proper reader (nibabel, pydicom from the fetched package, the FITS cards, the
netCDF header, NumPy's header). Some cases are converted to other types, byte
orders and headers; the rest keep the bytes their package ships (a gzipped
file is kept as the bytes inside it).

    tools/field_corpus.py [fetch]     fetch or verify; prints the manifest's path
    tools/field_corpus.py cached      prints the manifest's path if the cache holds
                                      the whole corpus, fails otherwise (no download)
    tools/field_corpus.py checksums   rebuild and print every case's SHA-256

Cache: $KELVOX_FIELD_CORPUS, else $XDG_CACHE_HOME/kelvox-field-corpus, else
~/.cache/kelvox-field-corpus. Every case file and every package is checked
against its SHA-256 below; any mismatch or failed download exits non-zero.
"""

import fcntl
import gzip
import hashlib
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings

import numpy as np

CorpusVersion = "v1"

# Package -> (pinned version, SHA-256 of that .deb). A package no longer
# served at its pinned version is taken at the version the archive serves;
# the case checksums still have to match.
Packages = {
    "python3-nibabel": ("5.0.0-2", "251732cc8babbf909f067ec6268dbafa2edb77b1c295e7a34fca3e756dfc8444"),
    "python3-dipy": ("1.6.0-1", "44e3d2971b3e8ccd7d29becbc7d3ce11057c8d0e1a875c6a48d4f25ae198acbf"),
    "python3-astropy": ("5.2.1-2+deb12u1", "5eaf4902cc15b673a5c761c691760dfff012ed2bfd2c061fba95c5785fcce41d"),
    "python3-pydicom": ("2.3.1-1", "fc00b7d2a85c136fddc4430d451d069f6d8b93138ed2523011646756208b0287"),
    "python3-nipy": ("0.5.0-7", "0df63e1995246c029eb2a8ccfa19d5aca7a895ea878d688a3a34e3db731ddba9"),
    "ferret-datasets": ("7.6.0-5", "e5770222647ebfe2ab77b845e07a7e05cb6fed7b12dec9ae287a1f8046031744"),
}

PyLib = "usr/lib/python3/dist-packages/"
Nib = PyLib + "nibabel/tests/data/"
NibDicom = PyLib + "nibabel/nicom/tests/data/"
Dipy = PyLib + "dipy/data/files/"
Fits = PyLib + "astropy/io/fits/tests/data/"
Wcs = PyLib + "astropy/wcs/tests/data/"
PyDicom = PyLib + "pydicom/data/test_files/"
Ferret = "usr/share/ferret-vis/data/"

TypeNames = {
    ("u", 1): "u8", ("i", 1): "i8", ("u", 2): "u16", ("i", 2): "i16", ("u", 4): "u32", ("i", 4): "i32",
    ("f", 4): "f32", ("f", 8): "f64",
}


class Layout:
    def __init__(self, dims, volumes, dtype, header):
        dims = list(dims) + [1] * (3 - len(dims))
        self.dims = [int(d) for d in dims[:3]]
        self.volumes = int(volumes)
        self.dtype = np.dtype(dtype)
        self.header = None if header is None else int(header)

    @property
    def type_name(self):
        return TypeNames[(self.dtype.kind, self.dtype.itemsize)]

    @property
    def order(self):
        if self.dtype.itemsize == 1:
            return "le"
        return "be" if self.dtype.byteorder == ">" or (self.dtype.byteorder == "=" and sys.byteorder == "big") else "le"

    @property
    def data_bytes(self):
        return self.dims[0] * self.dims[1] * self.dims[2] * self.volumes * self.dtype.itemsize

    def honest_name(self, case):
        dims = "x".join(str(d) for d in self.dims + ([self.volumes] if self.volumes > 1 else []))
        order = "" if self.dtype.itemsize == 1 else "_" + self.order
        return "%s_%s_%s%s.raw" % (case, dims, self.type_name, order)

    def voxels(self, data):
        """The voxels as an array of shape (volumes, z, y, x)."""
        count = self.data_bytes // self.dtype.itemsize
        flat = np.frombuffer(data, dtype=self.dtype, count=count, offset=self.header)
        return flat.reshape(self.volumes, self.dims[2], self.dims[1], self.dims[0])


def layout_from_shape(shape_fastest_first, dtype, header):
    shape = list(shape_fastest_first)
    volumes = int(np.prod(shape[3:])) if len(shape) > 3 else 1
    return Layout(shape[:3], volumes, dtype, header)


# ---- readers of the real headers ------------------------------------------

def read_nifti(path, data):
    import nibabel
    image = nibabel.load(path)
    return layout_from_shape(image.shape, image.header.get_data_dtype(), image.dataobj.offset)


def read_afni(head_path, data):
    import nibabel
    image = nibabel.load(head_path)
    shape = [d for d in image.shape]
    return layout_from_shape(shape, image.header.get_data_dtype(), 0)


def netcdf_header(data):
    """(variables, numrecs) of a classic netCDF file: name -> dims, type, begin, vsize, record."""
    if data[:3] != b"CDF" or data[3] not in (1, 2):
        raise ValueError("not a classic netCDF file")
    types = {1: ("i1", 1), 2: ("S1", 1), 3: (">i2", 2), 4: (">i4", 4), 5: (">f4", 4), 6: (">f8", 8)}
    pos = [4]

    def u32():
        (v,) = struct.unpack_from(">I", data, pos[0])
        pos[0] += 4
        return v

    def offset():
        fmt, size = (">I", 4) if data[3] == 1 else (">Q", 8)
        (v,) = struct.unpack_from(fmt, data, pos[0])
        pos[0] += size
        return v

    def name():
        n = u32()
        text = data[pos[0]:pos[0] + n].decode("latin-1")
        pos[0] += (n + 3) // 4 * 4
        return text

    def skip_attributes():
        u32()
        for _ in range(u32()):
            name()
            kind, count = u32(), u32()
            pos[0] += (count * types[kind][1] + 3) // 4 * 4

    numrecs = u32()
    u32()
    dims = [(name(), u32()) for _ in range(u32())]
    skip_attributes()
    u32()
    variables = {}
    for _ in range(u32()):
        vname = name()
        ids = [u32() for _ in range(u32())]
        skip_attributes()
        kind, vsize, begin = u32(), u32(), offset()
        variables[vname] = dict(dims=[dims[i][1] or numrecs for i in ids], dtype=types[kind][0], begin=begin,
                                vsize=vsize, record=bool(ids) and dims[ids[0]][1] == 0)
    return variables, numrecs


def read_netcdf_fixed(variable):
    def read(path, data):
        v = netcdf_header(data)[0][variable]
        return layout_from_shape(reversed(v["dims"]), v["dtype"], v["begin"])
    return read


def read_minc1(path, data):
    from nibabel import minc1
    from nibabel.externals.netcdf import netcdf_file
    v = netcdf_header(data)[0]["image"]
    with open(path, "rb") as f:
        dtype = minc1.Minc1File(netcdf_file(f, mmap=False)).get_data_dtype()
    return layout_from_shape(reversed(v["dims"]), dtype, v["begin"])


def read_dicom(path, data):
    import pydicom
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        ds = pydicom.dcmread(io.BytesIO(data), force=True)
    syntax = str(ds.file_meta.TransferSyntaxUID)
    if syntax not in ("1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2"):
        raise ValueError("compressed pixel data")
    if int(ds.get("SamplesPerPixel", 1)) != 1:
        raise ValueError("not one sample per pixel")
    pixels = ds.get_item(0x7FE00010)
    bits = int(ds.BitsAllocated)
    dtype = np.dtype(("i" if int(ds.PixelRepresentation) else "u") + str(bits // 8))
    dtype = dtype.newbyteorder(">" if syntax == "1.2.840.10008.1.2.2" else "<")
    frames = int(ds.get("NumberOfFrames", 1) or 1)
    layout = Layout([int(ds.Columns), int(ds.Rows), frames], 1, dtype, pixels.value_tell)
    if layout.data_bytes > pixels.length:
        raise ValueError("pixel data shorter than its frames")
    return layout


def fits_hdus(data):
    """(data offset, BITPIX, axes, extension) of every header-and-data unit."""
    hdus = []
    pos = 0
    while pos + 2880 <= len(data):
        cards, ended = {}, False
        while pos + 2880 <= len(data) and not ended:
            block = data[pos:pos + 2880].decode("ascii", "replace")
            pos += 2880
            for i in range(36):
                card = block[80 * i:80 * i + 80]
                key = card[:8].strip()
                if key == "END":
                    ended = True
                    break
                if card[8:10] == "= " and key not in cards:
                    cards[key] = card[10:].split("/")[0].strip().strip("'").strip()
        if not ended:
            break
        naxis = int(cards.get("NAXIS", 0))
        axes = [int(cards["NAXIS%d" % (i + 1)]) for i in range(naxis)]
        bitpix = int(cards["BITPIX"])
        groups = cards.get("GROUPS", "F") == "T"
        count = int(np.prod(axes[1:] if groups else axes)) if naxis else 0
        size = abs(bitpix) // 8 * int(cards.get("GCOUNT", 1)) * (int(cards.get("PCOUNT", 0)) + count)
        hdus.append(dict(offset=pos, bitpix=bitpix, axes=axes, groups=groups, kind=cards.get("XTENSION", "PRIMARY")))
        pos += (size + 2879) // 2880 * 2880
    return hdus


def read_fits(path, data):
    types = {8: "u1", 16: ">i2", 32: ">i4", -32: ">f4", -64: ">f8"}
    for hdu in fits_hdus(data):
        if hdu["kind"] in ("PRIMARY", "IMAGE") and not hdu["groups"] and len(hdu["axes"]) >= 2:
            return layout_from_shape(hdu["axes"], types[hdu["bitpix"]], hdu["offset"])
    raise ValueError("no image")


def read_npy(path, data):
    f = io.BytesIO(data)
    version = np.lib.format.read_magic(f)
    reader = np.lib.format.read_array_header_1_0 if version == (1, 0) else np.lib.format.read_array_header_2_0
    shape, fortran, dtype = reader(f)
    return layout_from_shape(shape if fortran else reversed(shape), dtype, f.tell())


# ---- conversions: the voxels of a real file in other formats ----------------

def volume_of(case_name):
    """The voxels (volumes, z, y, x) of an earlier case, by its source name."""
    return Built[case_name]


def write_raw(array, dtype, header=b"", footer=b""):
    return header + np.ascontiguousarray(array, dtype=np.dtype(dtype)).tobytes() + footer


def make_pgm(array2d, maxval):
    dtype = ">u2" if maxval > 255 else "u1"
    h, w = array2d.shape
    return ("P5\n# converted from a real volume\n%d %d\n%d\n" % (w, h, maxval)).encode() + write_raw(array2d, dtype)


def make_tiff(pages, dtype):
    """A baseline TIFF: the pages' pixels one after another from byte 8, the IFDs after them."""
    dtype = np.dtype(dtype)
    big = dtype.byteorder == ">"
    e = ">" if big else "<"
    count, h, w = pages.shape
    pixels = write_raw(pages, dtype)
    page_bytes = h * w * dtype.itemsize
    sample_format = {"u": 1, "i": 2, "f": 3}[dtype.kind]
    out = bytearray((b"MM\x00\x2a" if big else b"II\x2a\x00") + struct.pack(e + "I", 8 + len(pixels)))
    out += pixels
    for p in range(count):
        entries = [(256, 4, w), (257, 4, h), (258, 3, 8 * dtype.itemsize), (259, 3, 1), (262, 3, 1),
                   (273, 4, 8 + p * page_bytes), (277, 3, 1), (278, 4, h), (279, 4, page_bytes), (284, 3, 1),
                   (339, 3, sample_format)]
        next_ifd = len(out) + 2 + 12 * len(entries) + 4 if p + 1 < count else 0
        out += struct.pack(e + "H", len(entries))
        for tag, kind, value in entries:
            packed = struct.pack(e + "H", value) + b"\0\0" if kind == 3 else struct.pack(e + "I", value)
            out += struct.pack(e + "HHI", tag, kind, 1) + packed
        out += struct.pack(e + "I", next_ifd)
    return bytes(out)


def make_nrrd(volume, dtype):
    dtype = np.dtype(dtype)
    names = {"i2": "short", "u2": "ushort", "f4": "float", "f8": "double", "i4": "int", "u1": "uchar"}
    z, y, x = volume.shape
    text = "NRRD0004\n# converted from a real volume\ntype: %s\ndimension: 3\nsizes: %d %d %d\n" % (
        names[dtype.kind + str(dtype.itemsize)], x, y, z)
    if dtype.itemsize > 1:
        text += "endian: %s\n" % ("big" if dtype.byteorder == ">" else "little")
    text += "encoding: raw\nspacings: 1 1 1\n\n"
    return text.encode() + write_raw(volume, dtype)


def make_mha(volume, dtype):
    dtype = np.dtype(dtype)
    names = {"u2": "MET_USHORT", "i2": "MET_SHORT", "f4": "MET_FLOAT", "u1": "MET_UCHAR"}
    z, y, x = volume.shape
    text = ("ObjectType = Image\nNDims = 3\nBinaryData = True\nBinaryDataByteOrderMSB = %s\n"
            "ElementSpacing = 0.9375 0.9375 3\nDimSize = %d %d %d\nElementType = %s\nElementDataFile = LOCAL\n") % (
        "True" if dtype.byteorder == ">" else "False", x, y, z, names[dtype.kind + str(dtype.itemsize)])
    return text.encode() + write_raw(volume, dtype)


def make_mrc(volume):
    """An MRC2014 map of Float-32 little-endian voxels behind its 1024-byte header."""
    z, y, x = volume.shape
    v = volume.astype("<f4")
    header = bytearray(1024)
    struct.pack_into("<3i i 3i 3i 3f 3f 3i 3f", header, 0, x, y, z, 2, 0, 0, 0, x, y, z,
                     float(x), float(y), float(z), 90.0, 90.0, 90.0, 1, 2, 3,
                     float(np.nanmin(v)), float(np.nanmax(v)), float(np.nanmean(v)))
    header[208:212] = b"MAP "
    header[212:216] = bytes([0x44, 0x44, 0, 0])
    struct.pack_into("<i", header, 220, 1)
    header[224:304] = b"converted from a real volume".ljust(80)
    return bytes(header) + v.tobytes()


def make_npy(array):
    f = io.BytesIO()
    np.save(f, np.ascontiguousarray(array))
    return f.getvalue()


# ---- the cases --------------------------------------------------------------
#
# (name, kind, package, member, reader, builder): the builder turns the member's
# bytes into the case's bytes (None keeps them; gunzip for .gz members) and
# the reader states the layout of the case's bytes. Converted cases take the
# voxels of an earlier case (volume_of) and state their layout themselves.

def gunzip(data):
    return gzip.decompress(data)


Cases = [
    # Neuro: NIfTI-1/-2, AFNI, MINC-1, diffusion series, a blob map.
    ("nifti-anatomical", "NIfTI-1", "python3-nibabel", Nib + "anatomical.nii", read_nifti, None),
    ("nifti-functional", "NIfTI-1 fMRI", "python3-nibabel", Nib + "functional.nii", read_nifti, None),
    ("nifti-reoriented", "NIfTI-1", "python3-nibabel", Nib + "reoriented_anat_moved.nii", read_nifti, None),
    ("nifti-example4d", "NIfTI-1 fMRI", "python3-nibabel", Nib + "example4d.nii.gz", read_nifti, gunzip),
    ("nifti2-example", "NIfTI-2", "python3-nibabel", Nib + "example_nifti2.nii.gz", read_nifti, gunzip),
    ("afni-example4d", "AFNI BRIK", "python3-nibabel", Nib + "example4d+orig.BRIK.gz", read_afni, gunzip),
    ("afni-scaled", "AFNI BRIK", "python3-nibabel", Nib + "scaled+tlrc.BRIK", read_afni, None),
    ("minc1-4d", "MINC-1", "python3-nibabel", Nib + "minc1_4d.mnc", read_minc1, None),
    ("minc1-scale", "MINC-1", "python3-nibabel", Nib + "minc1_1_scale.mnc", read_minc1, None),
    ("dwi-s0", "NIfTI-1 diffusion", "python3-dipy", Dipy + "S0_10slices.nii.gz", read_nifti, gunzip),
    ("dwi-aniso", "NIfTI-1", "python3-dipy", Dipy + "aniso_vox.nii.gz", read_nifti, gunzip),
    ("dwi-ascm", "NIfTI-1 f64", "python3-dipy", Dipy + "ascm_out_test.nii.gz", read_nifti, gunzip),
    ("dwi-piesno", "NIfTI-1 f64", "python3-dipy", Dipy + "test_piesno.nii.gz", read_nifti, gunzip),
    ("dwi-101d", "NIfTI-1 diffusion", "python3-dipy", Dipy + "small_101D.nii.gz", read_nifti, gunzip),
    ("blobs", "NIfTI-1", "python3-nipy", PyLib + "nipy/labs/spatial_models/tests/some_blobs.nii", read_nifti, None),
    # NumPy arrays as shipped.
    ("npy-t1-slice", "NumPy", "python3-dipy", Dipy + "t1_coronal_slice.npy", read_npy, None),
    ("npy-circle", "NumPy", "python3-dipy", Dipy + "circle.npy", read_npy, None),
    # DICOM: MR, a Siemens mosaic, an enhanced multi-frame MR, dose grids.
    ("dicom-mr", "DICOM", "python3-nibabel", Nib + "0.dcm", read_dicom, None),
    ("dicom-mosaic", "DICOM mosaic", "python3-nibabel", NibDicom + "siemens_dwi_1000.dcm.gz", read_dicom, gunzip),
    ("dicom-mprage", "DICOM multi-frame", "python3-nibabel", NibDicom + "philips_mprage.dcm.gz", read_dicom, gunzip),
    ("dicom-rescale", "DICOM", "python3-nibabel", NibDicom + "decimal_rescale.dcm", read_dicom, None),
    ("dicom-mr-big", "DICOM big-endian", "python3-pydicom", PyDicom + "MR_small_bigendian.dcm", read_dicom, None),
    ("dicom-mr-padded", "DICOM", "python3-pydicom", PyDicom + "MR_small_padded.dcm", read_dicom, None),
    ("dicom-dose", "DICOM dose", "python3-pydicom", PyDicom + "rtdose.dcm", read_dicom, None),
    ("dicom-dose-big", "DICOM dose big-endian", "python3-pydicom", PyDicom + "rtdose_expb.dcm", read_dicom, None),
    # Telescope frames and cubes (FITS).
    ("fits-stis-raw", "FITS", "python3-astropy", Fits + "o4sp040b0_raw.fits", read_fits, None),
    ("fits-test0", "FITS", "python3-astropy", Fits + "test0.fits", read_fits, None),
    ("fits-fixed", "FITS", "python3-astropy", Fits + "fixed-1890.fits", read_fits, None),
    ("fits-arange", "FITS cube", "python3-astropy", Fits + "arange.fits", read_fits, None),
    ("fits-sip", "FITS", "python3-astropy", PyLib + "astropy/nddata/tests/data/sip-wcs.fits", read_fits, None),
    ("fits-wfc3", "FITS", "python3-astropy", Wcs + "ie6d07ujq_wcs.fits", read_fits, None),
    ("fits-checksum", "FITS", "python3-astropy", Fits + "checksum.fits", read_fits, None),
    # Ocean and climate grids (netCDF classic).
    ("etopo20", "netCDF", "ferret-datasets", Ferret + "etopo20.cdf", read_netcdf_fixed("ROSE"), None),
    ("etopo40", "netCDF", "ferret-datasets", Ferret + "etopo40.cdf", read_netcdf_fixed("ROSE"), None),
    ("etopo120", "netCDF", "ferret-datasets", Ferret + "etopo120.cdf", read_netcdf_fixed("ROSE"), None),
    ("etopo60", "netCDF", "ferret-datasets", Ferret + "etopo60.cdf", read_netcdf_fixed("ROSE"), None),
]

# Converted cases, in the order they are defined: (name, kind, from case,
# builder(voxels) -> (bytes, Layout)).
Conversions = []


def conversion(name, kind, source):
    """Registers the decorated builder as the converted case name."""
    def register(convert):
        Conversions.append((name, kind, source, convert))
        return convert
    return register


@conversion("pgm16-mr", "PGM 16-bit", "dicom-mr")
def conv_pgm16(v):
    img = v[0, 0]
    return make_pgm(img, 65535), Layout([img.shape[1], img.shape[0], 1], 1, ">u2", None)


@conversion("pgm8-etopo", "PGM 8-bit", "etopo40")
def conv_pgm8(v):
    img = v[0, 0]
    lo, hi = float(np.nanmin(img)), float(np.nanmax(img))
    img = np.round((img - lo) / (hi - lo) * 255.0).astype("u1")
    return make_pgm(img, 255), Layout([img.shape[1], img.shape[0], 1], 1, "u1", None)


@conversion("tiff-dwi-s0", "TIFF", "dwi-s0")
def conv_tiff_le(v):
    pages = v[0].astype("<u2")
    return make_tiff(pages, "<u2"), Layout([pages.shape[2], pages.shape[1], pages.shape[0]], 1, "<u2", 8)


@conversion("tiff-etopo", "TIFF big-endian", "etopo20")
def conv_tiff_be(v):
    pages = v[:, 0].astype(">f4")
    return make_tiff(pages, ">f4"), Layout([pages.shape[2], pages.shape[1], pages.shape[0]], 1, ">f4", 8)


@conversion("nrrd-ascm", "NRRD", "dwi-ascm")
def conv_nrrd(v):
    return make_nrrd(v[0], ">f4"), Layout(v.shape[:0:-1], 1, ">f4", None)


@conversion("mha-example4d", "MetaImage", "nifti-example4d")
def conv_mha(v):
    return make_mha(v[1], "<i2"), Layout(v.shape[:0:-1], 1, "<i2", None)


@conversion("mrc-piesno", "MRC map", "dwi-piesno")
def conv_mrc(v):
    return make_mrc(v[0]), Layout(v.shape[:0:-1], 1, "<f4", 1024)


@conversion("npy-anatomical-be", "NumPy big-endian", "nifti-anatomical")
def conv_npy_be(v):
    return make_npy(v[0].astype(">f4")), None


@conversion("raw-u8-reoriented", "raw u8", "nifti-reoriented")
def conv_raw_u8(v):
    vol = v[0].astype(np.float64)
    vol = np.round((vol - vol.min()) / (vol.max() - vol.min()) * 255.0).astype("u1")
    return write_raw(vol, "u1"), Layout(v.shape[:0:-1], 1, "u1", 0)


@conversion("raw-u32-mosaic", "raw u32", "dicom-mosaic")
def conv_raw_u32_top(v):
    # Counts near the top of an unsigned 32-bit range (an offset detector).
    vol = v.astype(np.int64) - int(v.min()) + 3000000000
    return write_raw(vol, "<u4"), Layout(v.shape[:0:-1], v.shape[0], "<u4", 0)


@conversion("raw-f64-aniso", "raw f64 header+footer", "dwi-aniso")
def conv_raw_f64_header_footer(v):
    header = b"RAWDUMP 1.0\n" + b"\0" * (4096 - 12)
    footer = b"END OF DATA\n" + bytes(range(256)) * 3
    return write_raw(v, ">f8", header, footer), Layout(v.shape[:0:-1], v.shape[0], ">f8", 4096)


@conversion("raw-i8-functional", "raw i8", "nifti-functional")
def conv_raw_i8(v):
    vol = np.clip(np.round(v.astype(np.float64) / 8.0), -128, 127).astype("i1")
    return write_raw(vol, "i1"), Layout(v.shape[:0:-1], v.shape[0], "i1", 0)


@conversion("raw-i32-afni", "raw i32 big-endian", "afni-scaled")
def conv_raw_i32_be(v):
    return write_raw(v, ">i4"), Layout(v.shape[:0:-1], v.shape[0], ">i4", 0)



# SHA-256 of every case's bytes ("tools/field_corpus.py checksums" prints them).
Checksums = {
    "nifti-anatomical": "1c089f37b6597a38bb4157a1e1b3f7f13f1bc9d4e7a8cfdfaf91d85cd8f66594",
    "nifti-functional": "0591d9f8c21f1a0af46567c47f96307ae8faf6b70771a881f4cc477502af7b26",
    "nifti-reoriented": "fd54cf0ce7b52935ed63e02490a07c4f5d949ab2572d13d2626001aeecab17cf",
    "nifti-example4d": "8fae297077c65d14149c9f6f0c0dc4ac896a7f54d7456d6b2abc31e487c9e7c5",
    "nifti2-example": "58c4b62edd5cdb156f3d721f24a97a272414bcfe4a2ec0ef66219d8857ffbd99",
    "afni-example4d": "509cd274e556e96bbc2774db131e4f6732505a6fa302352aeb2daad78800344c",
    "afni-scaled": "50d211c725fcf4bd6a41757ccaf6975dd3a8e32bdd56e09613269a9cdeeb233b",
    "minc1-4d": "4fc90aa5a51274a99ffec492e1bdddea5c84743123d4345126415d79ccc1da55",
    "minc1-scale": "18f85a8a17a7b06e33effdc0f1d5241d224bf0c7a8c160465ff93f0c9ac87aea",
    "dwi-s0": "0bace3eddf5cc1ef5055a994bb1c69220f71e2b854adc2ba816304b0578b1a7b",
    "dwi-aniso": "8b3548dbdef915767eddf6a8e008e907152e1fd5d8e818a2fc49721b3c1c70b1",
    "dwi-ascm": "4fd35b1b073eadc6fae40ae29b2fac91aecb1cb0db87e8098505b85d59c2533b",
    "dwi-piesno": "86e6ced24b46ebfc5a67d272a47833f4b96ec41894edd02b577b012520d77641",
    "dwi-101d": "fac110e69f5b2b29c687fc456f64ed63485ea115f4f7ec359506034b20a876ef",
    "blobs": "d04fe91e364bc11731063d8e46b22f1907b013fb48e37d831f4a0ed9ea60f948",
    "npy-t1-slice": "6ae15c125c97e11e1ba478ff252c1774d2c31db242a8a61daa93e7b43c873c7b",
    "npy-circle": "03a1c2f9b06d699f71e25d373499364f7a97ececa7b31c243f078f298b2f058f",
    "dicom-mr": "7045df97f3f8300f3af2f5ef4006b77b8c3c1181b5668d5f9a4783d2375c6dbb",
    "dicom-mosaic": "e8dda69a76285f65b647eb83fd83e37b53b0b796670bf0678519cbb424a3c437",
    "dicom-mprage": "00058b3a5141b839493c21393c317e1cfe12ca912be8edf2f856ad3ea69fb6e3",
    "dicom-rescale": "881274e34832e1d2bd9b4169fe8dc4be69335658244227ee5c3248a5fdb99f10",
    "dicom-mr-big": "3e4c8c9fe70de4f3be149bbd673fa56f211c8e8e2ff9bac63f70f9dc31b5d108",
    "dicom-mr-padded": "b46e32d8430f1e86e7fc03b9542e06ffc40a591890a3acc644c301d6a2f0e57f",
    "dicom-dose": "1d6cc092146d093e086a6bcccef4ebb7d097941343f5cd3b6395d157b64e37e4",
    "dicom-dose-big": "fe40ee7ed0cd63d1e76b51b42d4e68b764bd5f8a9ad59ce9fab9487158c550b8",
    "fits-stis-raw": "db9e48493b226276064fe1d33f1c60025ed466aa74516572f20717d28f70185b",
    "fits-test0": "ea06ee30b28f1ea2e8ca62c5289756763b7f41356d7fa3291dbc346e2ed34e94",
    "fits-fixed": "6964192bbd4cc15485c5b13255d58ede22c614b8993c99ba4cd14b092d50cf84",
    "fits-arange": "15cdaf729a2357a87c6cf0ac969cef30cebe830eed7fc66dce67f36246cae648",
    "fits-sip": "9e1e83ee784c446e4e8c3ffae8b7113b0ad1ed5f0d78c17955c417837cf2b4c8",
    "fits-wfc3": "76362ea86a5af71cfdbe7628a153b44cb9d61ae981eb9df3af9f6d3e2af89c3f",
    "fits-checksum": "80a6eddb9b9a0b62ebc805f5e5c99dc7518c66e20a52669cbded3badb0d130a5",
    "etopo20": "ba27cb2fa5f2f2b2c76e5a576f0a291fd11ebb3da99ed9b466150c0a064a1db4",
    "etopo40": "7833ad3b001f902fc15d458257172dc71c5263a0d11522e6ed6b916f910bcbf9",
    "etopo120": "48a8457b6c0df6a7527714d028b360a82c299444a6c02985eb95a330f66ccc7b",
    "etopo60": "36b4cb72a01cf4c6dc155e52dca6c4ff148aea5958d056d3136fe2789646c4ad",
    "pgm16-mr": "4a2048a0ed367a3ed6fee22bced6057656c3ad95da3b0a9f7688d13c12be33ac",
    "pgm8-etopo": "228ebc5df1607092dd3544549fe209392a2991b6dea092bd628081441e3c8626",
    "tiff-dwi-s0": "572bc9680a90f803c7ecb8b8de821bb5424b2578be1ca65d1f12f67c92b99265",
    "tiff-etopo": "ee5b14365d9eabe4663b6a9f5e0d4d39560a1644abb2cdfc1b4085298bc50fba",
    "nrrd-ascm": "4d9056b6c568e0b8f3a7ff06a407bc0906aaec281abc761ad14af9134a62c078",
    "mha-example4d": "2867fc7038e947ccfb7e497553b34170cb60017e6d04b1676a67461da0ceb3fc",
    "mrc-piesno": "33bdcc6aa555503c3389fe25963ebab37a73cef4b4cf5dacf4cea3604a09ca70",
    "npy-anatomical-be": "2372292be4da07ae43298d219c4cbd000ab777eb35e74db9a3a73041dbbeb93a",
    "raw-u8-reoriented": "23af92ca5c2300b858ec00585c9a221682e51cbedcc80341b663995c296b63d0",
    "raw-u32-mosaic": "b535bd259fac8c64f1b694c397a9dfe1623f032a28d49fc992c1a102700580f3",
    "raw-f64-aniso": "f442824eaf62ba3205b696a0fe8f7c7a3705954b7b5a17d3d3fedf40f2bf84a3",
    "raw-i8-functional": "af6c00ac5cbc8cdc4120a6f2ee3e94d9f47d0b956ffc8f7bc4f1cb24a4e04a0b",
    "raw-i32-afni": "329ef6c58517e39aa2fd730b941f81d5aca241602e8dca1c7f96162a63be7601",
}

Built = {}


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def cache_root():
    root = os.environ.get("KELVOX_FIELD_CORPUS")
    if not root:
        base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
        root = os.path.join(base, "kelvox-field-corpus")
    return os.path.join(root, CorpusVersion)


def download(package, folder, updated):
    version, digest = Packages[package]
    for spec, pinned in (("%s=%s" % (package, version), True), (package, False)):
        result = subprocess.run(["apt-get", "download", spec], cwd=folder, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        debs = [f for f in os.listdir(folder) if f.startswith(package + "_") and f.endswith(".deb")]
        if result.returncode == 0 and debs:
            path = os.path.join(folder, debs[0])
            with open(path, "rb") as f:
                got = sha256(f.read())
            if pinned and got != digest:
                raise RuntimeError("%s: SHA-256 %s, expected %s" % (debs[0], got, digest))
            if not pinned:
                print("field corpus: %s %s is no longer served; taking %s (the cases' checksums decide)"
                      % (package, version, debs[0]), file=sys.stderr)
            return path
    if not updated and os.geteuid() == 0:
        subprocess.run(["apt-get", "update"], check=False, stdout=subprocess.DEVNULL)
        return download(package, folder, True)
    raise RuntimeError("cannot download %s: %s" % (package, result.stderr.strip()))


def build(work):
    """Every case's bytes and layout, from freshly fetched packages."""
    roots = {}
    for package in Packages:
        deb = download(package, work, False)
        root = os.path.join(work, package)
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        os.remove(deb)
        roots[package] = root
    sys.path.insert(0, os.path.join(roots["python3-pydicom"], PyLib))
    out = []
    for name, kind, package, member, reader, builder in Cases:
        path = os.path.join(roots[package], member)
        with open(path, "rb") as f:
            data = f.read()
        if builder:
            data = builder(data)
        read_path = path
        if member.endswith(".gz"):
            read_path = os.path.join(work, os.path.basename(member)[:-3])
            with open(read_path, "wb") as f:
                f.write(data)
            if member.endswith(".BRIK.gz"):
                shutil.copy(path[:-len("BRIK.gz")] + "HEAD", read_path[:-len("BRIK")] + "HEAD")
        if reader is read_afni:
            read_path = read_path[:-len("BRIK")] + "HEAD"
        layout = reader(read_path, data)
        Built[name] = layout.voxels(data)
        out.append((name, kind, "%s %s" % (package, member.replace(PyLib, "")), data, layout))
    for name, kind, source, convert in Conversions:
        data, layout = convert(volume_of(source))
        if layout is None:
            layout = read_npy(None, data)
        if layout.header is None:
            layout.header = len(data) - layout.data_bytes
        origin = next(c for c in out if c[0] == source)
        out.append((name, kind, "converted from %s" % origin[2], data, layout))
    for name, kind, source, data, layout in out:
        if layout.header < 0 or layout.header + layout.data_bytes > len(data):
            raise RuntimeError("%s: layout does not fit its %d bytes" % (name, len(data)))
    return out


def manifest_lines(cases):
    lines = ["# case\tkind\tx\ty\tz\tvolumes\ttype\torder\theader\tbytes\thonest_name\tsha256\tsource"]
    for i, (name, kind, source, data, layout) in enumerate(cases):
        case = "case%02d" % (i + 1)
        lines.append("\t".join([case + ".bin", kind] + [str(d) for d in layout.dims] +
                               [str(layout.volumes), layout.type_name, layout.order, str(layout.header),
                                str(len(data)), layout.honest_name(case), sha256(data), "%s: %s" % (name, source)]))
    return lines


def verified(folder):
    manifest = os.path.join(folder, "manifest.tsv")
    if not os.path.exists(manifest):
        return False
    with open(manifest) as f:
        rows = [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]
    if len(rows) != len(Cases) + len(Conversions):
        return False
    for row in rows:
        name, digest = row[12].split(":")[0], row[11]
        path = os.path.join(folder, row[0])
        if Checksums.get(name) != digest or not os.path.exists(path):
            return False
        with open(path, "rb") as f:
            if sha256(f.read()) != digest:
                return False
    return True


def fetch(print_checksums=False):
    folder = cache_root()
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not print_checksums and verified(folder):
            return os.path.join(folder, "manifest.tsv")
        with tempfile.TemporaryDirectory(dir=folder) as work:
            cases = build(work)
        if print_checksums:
            for name, kind, source, data, layout in cases:
                print('    "%s": "%s",' % (name, sha256(data)))
            return None
        wrong = [c[0] for c in cases if Checksums.get(c[0]) != sha256(c[3])]
        if wrong:
            raise RuntimeError("cases differ from their checksums: " + ", ".join(wrong))
        for i, case in enumerate(cases):
            with open(os.path.join(folder, "case%02d.bin" % (i + 1)), "wb") as f:
                f.write(case[3])
        manifest = os.path.join(folder, "manifest.tsv")
        with open(manifest + ".part", "w") as f:
            f.write("\n".join(manifest_lines(cases)) + "\n")
        os.replace(manifest + ".part", manifest)
        return manifest


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else "fetch"
    try:
        if command == "fetch":
            print(fetch())
        elif command == "cached":
            folder = cache_root()
            if not verified(folder):
                print("field corpus: not cached in %s" % folder, file=sys.stderr)
                return 1
            print(os.path.join(folder, "manifest.tsv"))
        elif command == "checksums":
            fetch(print_checksums=True)
        else:
            print(__doc__, file=sys.stderr)
            return 2
    except (RuntimeError, OSError, ValueError, subprocess.CalledProcessError) as e:
        print("field corpus: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
