#!/usr/bin/python3
"""Writes songs of known structure as MIDI, renders them with fluidsynth and the General MIDI
sound font, and writes their section times (from bars and tempo) beside them.

    chorus_songs.py OUT_DIR [--rate HZ] [--only NAME,NAME...] [--list]

OUT_DIR gets NAME.mid, NAME.wav and songs.tsv: one line a song, "NAME<TAB>BPM<TAB>METER<TAB>
SECTIONS", SECTIONS being "LABEL:START-END" in seconds, separated by spaces. Labels: I intro,
V verse, P pre-chorus, U build-up, C chorus, B bridge, O outro. A song already rendered with the
same content is kept, so a second run costs nothing."""

import hashlib
import os
import random
import subprocess
import sys

import mido

SOUND_FONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
TPB = 480  # ticks per quarter note

# Instruments (General MIDI programs, counted from 0).
PIANO, EPIANO, ORGAN, ACCORDION = 0, 4, 16, 21
NYLON, STEEL, CLEAN, OVERDRIVE, DISTORTION = 24, 25, 27, 29, 30
ACOUSTIC_BASS, FINGER_BASS, PICK_BASS, SYNTH_BASS = 32, 33, 34, 38
STRINGS, SLOW_STRINGS, CHOIR = 48, 49, 52
TRUMPET, BRASS, SAX, FLUTE, CLARINET = 56, 61, 65, 73, 71
SQUARE, SAW, PAD_WARM, PAD_POLY = 80, 81, 89, 90
FIDDLE, BANJO, HARMONICA = 110, 105, 22

# Drum notes (channel 10).
KICK, STICK, SNARE, CLAP, HAT, OPEN_HAT, CRASH, RIDE, TOM_LO, TOM_HI, TAMB = (
    36, 37, 38, 39, 42, 46, 49, 51, 45, 50, 54)

MAJOR = [0, 2, 4, 5, 7, 9, 11]
MINOR = [0, 2, 3, 5, 7, 8, 10]


def song_list():
    """The evaluation set. Each song: tempo (beats a minute as counted: a dotted quarter in
    6/8), meter, key, the sections in order with their bars, instruments, styles and the
    progression of each kind of section (scale degrees, one chord a bar)."""
    return [
        dict(name="piano-pop", bpm=100, meter="4/4", key=60, mode=MAJOR, seed=1,
             form="I4 V8 P4 C8 V8 P4 C8 B8 C8 C8 O4",
             chords=PIANO, chord_style="block", bass=FINGER_BASS, bass_style="root-fifth",
             lead=FLUTE, chorus_pad=STRINGS, drums="pop",
             prog=dict(I=[0, 4], V=[0, 5, 3, 4], P=[1, 3, 4, 4], C=[3, 4, 0, 5], B=[5, 3, 1, 4],
                       O=[0, 3])),
        dict(name="rock-guitars", bpm=140, meter="4/4", key=64, mode=MINOR, seed=2,
             form="I8 V16 C16 V16 C16 B8 C16 O4",
             chords=DISTORTION, chord_style="power8", bass=PICK_BASS, bass_style="root8",
             lead=OVERDRIVE, chorus_pad=CLEAN, drums="rock",
             prog=dict(I=[0, 0, 5, 6], V=[0, 0, 5, 6], C=[5, 2, 6, 0], B=[3, 4, 3, 4], O=[0, 0])),
        dict(name="dance-drop", bpm=128, meter="4/4", key=57, mode=MINOR, seed=3,
             form="I16 V8 U8 C16 V8 U8 C16 B8 U8 C16 O8",
             chords=PAD_POLY, chord_style="offbeat", bass=SYNTH_BASS, bass_style="edm",
             lead=SAW, chorus_pad=PAD_WARM, drums="four",
             prog=dict(I=[0, 5, 2, 6], V=[0, 5, 2, 6], U=[3, 3, 4, 4], C=[0, 5, 2, 6],
                       B=[3, 6, 4, 4], O=[0, 5, 2, 6]),
             chorus_lead_only=True),
        dict(name="folk-waltz", bpm=150, meter="3/4", key=62, mode=MAJOR, seed=4,
             form="I8 V16 C16 V16 C16 V16 C16 B8 C16",
             chords=STEEL, chord_style="waltz", bass=ACOUSTIC_BASS, bass_style="waltz",
             lead=FIDDLE, chorus_pad=ACCORDION, drums="waltz",
             prog=dict(I=[0, 4], V=[0, 3, 4, 0], C=[3, 0, 4, 0], B=[5, 3, 4, 4], O=[0])),
        dict(name="piano-ballad", bpm=72, meter="4/4", key=63, mode=MAJOR, seed=5,
             form="I2 V8 C8 V8 C8 B4 C8 O2",
             chords=PIANO, chord_style="arp", bass=ACOUSTIC_BASS, bass_style="whole",
             lead=CLARINET, chorus_pad=SLOW_STRINGS, drums="ballad", key_change_last=True,
             prog=dict(I=[0, 4], V=[0, 5, 3, 4], C=[3, 0, 4, 5], B=[1, 4, 5, 4], O=[0, 0])),
        dict(name="six-eight-folk", bpm=80, meter="6/8", key=67, mode=MAJOR, seed=6,
             form="I8 V16 C12 V16 C12 B8 C12 C12 O8",
             chords=NYLON, chord_style="arp68", bass=ACOUSTIC_BASS, bass_style="six-eight",
             lead=HARMONICA, chorus_pad=ACCORDION, drums="six-eight",
             prog=dict(I=[0, 4], V=[0, 3, 0, 4], C=[3, 4, 0, 5], B=[5, 1, 4, 4], O=[0])),
        dict(name="chorus-first", bpm=118, meter="4/4", key=65, mode=MAJOR, seed=7,
             form="C8 V8 C8 V8 P4 C8 B8 C8 C8 O8",
             chords=EPIANO, chord_style="stabs", bass=SYNTH_BASS, bass_style="octaves",
             lead=SQUARE, chorus_pad=STRINGS, drums="pop",
             prog=dict(V=[5, 3, 0, 4], P=[1, 1, 4, 4], C=[0, 4, 5, 3], B=[3, 4, 5, 5],
                       O=[0, 3])),
        dict(name="loud-intro-metal", bpm=160, meter="4/4", key=62, mode=MINOR, seed=8,
             form="I16 V16 C16 V16 C16 B8 C16 C16 O4",
             chords=DISTORTION, chord_style="power8", bass=PICK_BASS, bass_style="root8",
             lead=OVERDRIVE, chorus_pad=CHOIR, drums="rock", loud={"I": 1.0},
             prog=dict(I=[0, 6, 5, 6], V=[0, 0, 3, 4], C=[5, 6, 0, 0], B=[3, 4, 3, 4],
                       O=[0])),
        dict(name="soul-loud-bridge", bpm=96, meter="4/4", key=58, mode=MAJOR, seed=9,
             form="I4 V8 C8 V8 C8 B8 C8 C8 O4",
             chords=ORGAN, chord_style="stabs", bass=FINGER_BASS, bass_style="walking",
             lead=SAX, chorus_pad=BRASS, bridge_extra=TRUMPET, drums="pop", loud={"B": 1.0},
             prog=dict(I=[0, 3], V=[0, 3, 0, 4], C=[3, 4, 2, 5], B=[1, 4, 0, 5], O=[0, 3])),
        dict(name="fade-out-pop", bpm=110, meter="4/4", key=61, mode=MAJOR, seed=10,
             form="I4 V8 P4 C8 V8 P4 C8 B8 C8 C8 C8", fade_bars=16,
             chords=CLEAN, chord_style="strum", bass=FINGER_BASS, bass_style="root-fifth",
             lead=TRUMPET, chorus_pad=STRINGS, drums="pop",
             prog=dict(I=[0, 4], V=[0, 4, 5, 3], P=[3, 4, 3, 4], C=[5, 3, 0, 4], B=[1, 5, 3, 4],
                       O=[0])),
        dict(name="long-intro-synth", bpm=122, meter="4/4", key=55, mode=MINOR, seed=11,
             form="I32 V16 C16 V16 C16 C16 O8",
             chords=PAD_WARM, chord_style="block", bass=SYNTH_BASS, bass_style="edm",
             lead=SQUARE, chorus_pad=SAW, drums="four",
             prog=dict(I=[0, 5, 3, 4], V=[0, 3, 0, 6], C=[5, 6, 0, 0], O=[0, 5])),
        dict(name="short-chorus-country", bpm=132, meter="4/4", key=67, mode=MAJOR, seed=12,
             form="I8 V16 C8 V16 C8 B8 C8 C8 O4",
             chords=STEEL, chord_style="strum", bass=ACOUSTIC_BASS, bass_style="root-fifth",
             lead=FIDDLE, chorus_pad=BANJO, drums="pop",
             prog=dict(I=[0, 4], V=[0, 0, 3, 4], C=[3, 0, 4, 0], B=[5, 3, 4, 4], O=[0])),
        dict(name="hip-hop-hook", bpm=90, meter="4/4", key=56, mode=MINOR, seed=13,
             form="I4 V16 C8 V16 C8 V16 C8 O4",
             chords=EPIANO, chord_style="block", bass=SYNTH_BASS, bass_style="hiphop",
             lead=EPIANO, chorus_pad=STRINGS, drums="hiphop",
             prog=dict(I=[0, 5], V=[0, 5, 0, 5], C=[3, 4, 0, 0], O=[0, 5])),
        dict(name="long-chorus-anthem", bpm=106, meter="4/4", key=59, mode=MAJOR, seed=14,
             form="I4 V8 C16 V8 C16 B8 C16 O4",
             chords=OVERDRIVE, chord_style="strum", bass=PICK_BASS, bass_style="root8",
             lead=BRASS, chorus_pad=CHOIR, drums="rock",
             prog=dict(I=[0, 4], V=[0, 5, 0, 5], C=[3, 4, 5, 0], B=[1, 3, 4, 4], O=[0])),
    ]


class Song:
    def __init__(self, spec):
        self.spec = spec
        self.rng = random.Random(spec["seed"])
        meter = spec["meter"]
        if meter == "6/8":
            self.beats_per_bar, self.beat_ticks = 2, TPB * 3 // 2
            quarter_bpm = spec["bpm"] * 1.5
        else:
            self.beats_per_bar, self.beat_ticks = int(meter[0]), TPB
            quarter_bpm = spec["bpm"]
        self.bar_ticks = self.beats_per_bar * self.beat_ticks
        self.seconds_per_tick = 60.0 / quarter_bpm / TPB
        self.tempo = int(round(60e6 / quarter_bpm))
        self.events = {}  # channel -> list of (tick, order, message)
        self.sections = []
        tick = 0
        for token in spec["form"].split():
            label, bars = token[0], int(token[1:])
            self.sections.append((label, bars, tick))
            tick += bars * self.bar_ticks
        self.end_tick = tick
        self.melodies = {}

    # ---- helpers
    def add(self, channel, tick, message, order=1):
        self.events.setdefault(channel, []).append((int(tick), order, message))

    def note(self, channel, tick, length, pitch, velocity):
        # Played by people: a few milliseconds early or late, never quite as hard twice.
        tick += self.rng.randint(-6, 6)
        velocity += self.rng.randint(-7, 7)
        velocity = max(1, min(127, int(velocity)))
        pitch = max(0, min(127, int(pitch)))
        tick = max(0, tick)
        self.add(channel, tick, mido.Message("note_on", channel=channel, note=pitch,
                                             velocity=velocity), 2)
        self.add(channel, tick + max(1, int(length)),
                 mido.Message("note_off", channel=channel, note=pitch, velocity=0), 0)

    def drum(self, tick, pitch, velocity):
        self.note(9, tick, TPB // 8, pitch, velocity)

    def degree_pitch(self, key, degree, octave=0):
        mode = self.spec["mode"]
        return key + 12 * (octave + degree // 7) + mode[degree % 7]

    def triad(self, key, degree, octave=0):
        return [self.degree_pitch(key, degree + k, octave) for k in (0, 2, 4)]

    # ---- parts
    def chords_bar(self, channel, style, tick, key, degree, velocity):
        bar, beat = self.bar_ticks, self.beat_ticks
        notes = self.triad(key, degree, -1)
        if style == "block":
            for p in notes:
                self.note(channel, tick, bar - 20, p, velocity)
        elif style == "arp":
            pattern = [0, 1, 2, 1, 2, 1, 0, 1]
            for i, k in enumerate(pattern):
                self.note(channel, tick + i * TPB // 2, TPB, notes[k] + (12 if i % 4 == 2 else 0),
                          velocity - 8 * (i % 2))
        elif style == "arp68":
            for i, k in enumerate([0, 1, 2, 0, 2, 1]):
                self.note(channel, tick + i * TPB // 2, TPB // 2, notes[k] + 12 * (k == 2),
                          velocity - 10 * (i % 3 != 0))
        elif style == "waltz":
            for b in (1, 2):
                for p in notes:
                    self.note(channel, tick + b * beat, beat - 30, p + 12, velocity - 10)
        elif style == "power8":
            root = self.degree_pitch(key, degree, -2)
            for i in range(8):
                for p in (root, root + 7, root + 12):
                    self.note(channel, tick + i * TPB // 2, TPB // 2 - 20, p,
                              velocity - 12 * (i % 2))
        elif style == "strum":
            for i, accent in enumerate([1, 0, 1, 1, 0, 1, 1, 0]):
                if i in (1, 4, 7):
                    continue
                for j, p in enumerate(notes + [notes[0] + 12]):
                    self.note(channel, tick + i * TPB // 2 + 8 * j, TPB // 2 + 60, p,
                              velocity - 15 * (1 - accent))
        elif style == "stabs":
            for i in range(self.beats_per_bar):
                for p in notes:
                    self.note(channel, tick + i * beat + beat // 2, beat // 3, p + 12, velocity)
        elif style == "offbeat":
            for i in range(4):
                for p in notes:
                    self.note(channel, tick + i * TPB + TPB // 2, TPB // 3, p + 12, velocity)

    def bass_bar(self, channel, style, tick, key, degree, velocity, next_degree):
        root = self.degree_pitch(key, degree, -2)
        fifth = root + 7
        beat = self.beat_ticks
        if style == "root-fifth":
            self.note(channel, tick, 2 * beat - 40, root, velocity)
            self.note(channel, tick + 2 * beat, 2 * beat - 40, fifth, velocity - 10)
        elif style == "root8":
            for i in range(8):
                self.note(channel, tick + i * TPB // 2, TPB // 2 - 30, root, velocity - 6 * (i % 2))
        elif style == "edm":
            for i in range(4):
                self.note(channel, tick + i * TPB + TPB // 2, TPB // 2 - 20, root, velocity)
        elif style == "waltz":
            self.note(channel, tick, beat - 30, root, velocity)
        elif style == "whole":
            self.note(channel, tick, self.bar_ticks - 30, root, velocity)
        elif style == "six-eight":
            self.note(channel, tick, beat - 30, root, velocity)
            self.note(channel, tick + beat, beat - 30, fifth, velocity - 10)
        elif style == "octaves":
            for i in range(8):
                self.note(channel, tick + i * TPB // 2, TPB // 2 - 40, root + 12 * (i % 2),
                          velocity)
        elif style == "walking":
            target = self.degree_pitch(key, next_degree, -2)
            line = [root, root + 4 if self.spec["mode"] is MAJOR else root + 3, fifth,
                    target - 1 if target > root else target + 1]
            for i, p in enumerate(line):
                self.note(channel, tick + i * beat, beat - 30, p, velocity)
        elif style == "hiphop":
            for at, length in ((0, TPB * 3 // 2), (TPB * 3 // 2, TPB // 2), (TPB * 5 // 2, TPB)):
                self.note(channel, tick + at, length - 20, root, velocity)

    def drums_bar(self, style, tick, velocity, bar_in_section, bars, label):
        beat = self.beat_ticks
        last = bar_in_section == bars - 1
        if label == "U":  # the build-up: a snare roll that thickens and rises towards the drop
            share = (bar_in_section + 1) / bars
            step = TPB if share <= 0.25 else TPB // 2 if share <= 0.5 else TPB // 4
            if share > 0.875:
                step = TPB // 8
            for t in range(0, self.bar_ticks, step):
                self.drum(tick + t, SNARE, velocity * (0.5 + 0.5 * share))
            return
        chorus = label == "C"
        if bar_in_section == 0 and label in "CB":
            self.drum(tick, CRASH, velocity)
        if style in ("pop", "rock"):
            for i in range(8):
                t = tick + i * TPB // 2
                self.drum(t, RIDE if (chorus and style == "rock") else HAT,
                          velocity - 20 - 10 * (i % 2))
                if i in (0, 4) or (style == "rock" and i in (3, 5)) or (chorus and i == 7):
                    self.drum(t, KICK, velocity)
                if i in (2, 6):
                    self.drum(t, SNARE, velocity)
            if last:
                for i, p in enumerate((TOM_HI, TOM_HI, TOM_LO, TOM_LO)):
                    self.drum(tick + 3 * TPB + i * TPB // 4, p, velocity - 10)
        elif style == "four":
            for i in range(4):
                self.drum(tick + i * TPB, KICK, velocity)
                self.drum(tick + i * TPB + TPB // 2, OPEN_HAT, velocity - 25)
                if i % 2:
                    self.drum(tick + i * TPB, CLAP, velocity - 10)
        elif style == "waltz":
            self.drum(tick, KICK, velocity)
            for b in (1, 2):
                self.drum(tick + b * beat, HAT, velocity - 20)
                self.drum(tick + b * beat, STICK if not chorus else SNARE, velocity - 25)
        elif style == "ballad":
            self.drum(tick, KICK, velocity - 10)
            self.drum(tick + 2 * TPB, STICK if not chorus else SNARE, velocity - 20)
            for i in range(4):
                self.drum(tick + i * TPB, HAT, velocity - 35)
        elif style == "six-eight":
            self.drum(tick, KICK, velocity)
            self.drum(tick + 3 * TPB // 2, SNARE if chorus else STICK, velocity - 15)
            for i in range(6):
                self.drum(tick + i * TPB // 2, HAT, velocity - 30 - 10 * (i % 3 != 0))
        elif style == "hiphop":
            for t in (0, TPB * 7 // 4, TPB * 5 // 2):
                self.drum(tick + t, KICK, velocity)
            for t in (TPB, 3 * TPB):
                self.drum(tick + t, SNARE, velocity)
            for i in range(8):
                self.drum(tick + i * TPB // 2 + (30 if i % 2 else 0), HAT, velocity - 30)
            if chorus:
                for t in (TPB, 3 * TPB):
                    self.drum(tick + t, CLAP, velocity - 15)

    def phrase(self, bars, chords, key, seed_text, note_length):
        """A melody over `bars` bars: notes mostly on chord tones, a rhythm of its own."""
        r = random.Random(seed_text)
        beat = self.beat_ticks
        slots = self.bar_ticks // note_length
        out = []
        for b in range(bars):
            degree = chords[b % len(chords)]
            tones = [degree, degree + 2, degree + 4, degree + 7]
            t = 0
            while t < slots:
                length = r.choice([1, 1, 2, 2, 3]) if slots > 3 else 1
                if r.random() < 0.22 and t > 0:
                    t += length
                    continue
                step = r.choice(tones) if r.random() < 0.7 else degree + r.randint(0, 6)
                out.append((b * self.bar_ticks + t * note_length, length * note_length, step))
                t += length
        del beat
        return out

    def melody(self, label, instance, bars, chords, key):
        """A section's tune, in two-bar lines: a chorus is A A' B A'' (then again), the same
        every time it comes; a verse's lines differ from one another and from one verse to the
        next, as other words would."""
        note_length = TPB // 2 if self.spec["bpm"] < 120 else TPB
        if self.spec["meter"] == "3/4":
            note_length = TPB
        name = self.spec["name"]
        if (name, label) not in self.melodies:
            lines = [self.phrase(2, chords[(2 * i) % len(chords):] + chords[:(2 * i) % len(chords)],
                                 key, "%s-%s-%d" % (name, label, i), note_length)
                     for i in range(3)]
            # A' ends differently, A'' comes to rest on the key note.
            answer = [(t, l, s + (2 if t >= self.bar_ticks and i % 3 == 0 else 0))
                      for i, (t, l, s) in enumerate(lines[0])]
            rest = [(t, l, s) for (t, l, s) in lines[0] if t < self.bar_ticks + self.beat_ticks]
            rest.append((self.bar_ticks + self.beat_ticks, self.bar_ticks - self.beat_ticks, 7))
            self.melodies[(name, label)] = [lines[0], answer, lines[1], rest]
        form = self.melodies[(name, label)]
        notes = []
        r = random.Random("%s-%s-%d" % (name, label, instance))
        for line in range(0, (bars + 1) // 2):
            part = form[line % 4]
            for t, length, step in part:
                if label != "C":
                    # Other words: a third of the notes move, a few fall away.
                    if r.random() < 0.35:
                        step += r.choice([-2, -1, 1, 2, 3])
                    if r.random() < 0.1:
                        continue
                at = line * 2 * self.bar_ticks + t
                if at < bars * self.bar_ticks:
                    notes.append((at, length, step))
        return notes

    # ---- the song
    def build(self):
        spec = self.spec
        for channel, program in ((0, spec["chords"]), (1, spec["bass"]), (2, spec["lead"]),
                                 (3, spec["chorus_pad"]), (4, spec.get("bridge_extra", BRASS))):
            self.add(channel, 0, mido.Message("program_change", channel=channel,
                                              program=program), 0)
            self.add(channel, 0, mido.Message("control_change", channel=channel, control=7,
                                              value=100), 0)
        self.add(9, 0, mido.Message("control_change", channel=9, control=7, value=100), 0)
        counts = {}
        chorus_total = sum(1 for s in self.sections if s[0] == "C")
        loud = spec.get("loud", {})
        for label, bars, start in self.sections:
            instance = counts.get(label, 0)
            counts[label] = instance + 1
            key = spec["key"]
            if label == "C" and spec.get("key_change_last") and instance == chorus_total - 1:
                key += 2
            chords = spec["prog"].get(label, spec["prog"]["V"])
            level = {"I": 0.7, "V": 0.78, "P": 0.85, "U": 0.8, "C": 1.0, "B": 0.8,
                     "O": 0.65}[label]
            level = loud.get(label, level)
            vel = 70 + 45 * level
            tune = [] if label in "IOU" and not loud.get(label) else self.melody(
                label, instance, bars, chords, key)
            lead_offset = 12 if spec["lead"] not in (OVERDRIVE, FIDDLE, HARMONICA) else 0
            for t, length, step in tune:
                self.note(2, start + t, length - 20, self.degree_pitch(key, step, 1) - 12 +
                          lead_offset, vel + 5)
            for b in range(bars):
                tick = start + b * self.bar_ticks
                degree = chords[b % len(chords)]
                following = chords[(b + 1) % len(chords)]
                sparse = label in "V" and spec.get("chorus_lead_only")
                if not sparse or b % 2 == 0:
                    self.chords_bar(0, spec["chord_style"], tick, key, degree, vel - 15)
                if label not in "IU" or loud.get(label):
                    self.bass_bar(1, spec["bass_style"], tick, key, degree, vel - 5, following)
                if label in "C" or (label == "B" and loud.get("B")) or loud.get(label):
                    for p in self.triad(key, degree, 0):
                        self.note(3, tick, self.bar_ticks - 30, p, vel - 25)
                if label == "B" and loud.get("B"):
                    for i in range(self.beats_per_bar):
                        for p in self.triad(key, degree, 0):
                            self.note(4, tick + i * self.beat_ticks, self.beat_ticks // 2, p, 120)
                if label == "U":
                    rise = self.degree_pitch(key, degree, 0) + b
                    self.note(3, tick, self.bar_ticks - 30, rise, 60 + 6 * b)
                plays_drums = label not in "IO" or loud.get(label) or spec["drums"] == "four"
                if label == "I" and spec["drums"] == "four" and b < bars // 2:
                    plays_drums = False
                if plays_drums:
                    self.drums_bar(spec["drums"], tick, vel, b, bars, label)
        fade = spec.get("fade_bars", 0)
        if fade:
            first = self.end_tick - fade * self.bar_ticks
            steps = fade * 4
            for s in range(steps + 1):
                tick = first + s * (self.end_tick - first) // steps
                value = int(round(100 * (1 - s / steps) ** 1.5))
                for channel in (0, 1, 2, 3, 4, 9):
                    self.add(channel, tick, mido.Message("control_change", channel=channel,
                                                         control=7, value=value), 1)

    def midi(self):
        f = mido.MidiFile(ticks_per_beat=TPB)
        meta = mido.MidiTrack()
        num, den = (6, 8) if self.spec["meter"] == "6/8" else (self.beats_per_bar, 4)
        meta.append(mido.MetaMessage("set_tempo", tempo=self.tempo, time=0))
        meta.append(mido.MetaMessage("time_signature", numerator=num, denominator=den, time=0))
        meta.append(mido.MetaMessage("end_of_track", time=self.end_tick))
        f.tracks.append(meta)
        for channel in sorted(self.events):
            track = mido.MidiTrack()
            last = 0
            for tick, _, message in sorted(self.events[channel], key=lambda e: (e[0], e[1])):
                tick = min(tick, self.end_tick)
                track.append(message.copy(time=tick - last))
                last = tick
            f.tracks.append(track)
        return f

    def annotation(self):
        parts = []
        for label, bars, start in self.sections:
            a = start * self.seconds_per_tick
            b = (start + bars * self.bar_ticks) * self.seconds_per_tick
            parts.append("%s:%.3f-%.3f" % (label, a, b))
        return "%s\t%g\t%s\t%s" % (self.spec["name"], self.spec["bpm"], self.spec["meter"],
                                   " ".join(parts))


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    out = argv[1]
    rate, only = 44100, None
    args = argv[2:]
    while args:
        a = args.pop(0)
        if a == "--rate":
            rate = int(args.pop(0))
        elif a == "--only":
            only = set(args.pop(0).split(","))
        elif a == "--list":
            for spec in song_list():
                print(spec["name"])
            return 0
    os.makedirs(out, exist_ok=True)
    lines = []
    for spec in song_list():
        if only and spec["name"] not in only:
            continue
        song = Song(spec)
        song.build()
        mid_path = os.path.join(out, spec["name"] + ".mid")
        wav_path = os.path.join(out, spec["name"] + ".wav")
        song.midi().save(mid_path)
        with open(mid_path, "rb") as m:
            digest = hashlib.sha1(m.read() + str(rate).encode()).hexdigest()
        stamp = wav_path + ".sha1"
        fresh = os.path.exists(wav_path) and os.path.exists(stamp) and \
            open(stamp).read() == digest
        if not fresh:
            subprocess.run(["fluidsynth", "-ni", "-q", "-g", "0.5", "-r", str(rate), "-O", "s16",
                            "-T", "wav", "-F", wav_path, SOUND_FONT, mid_path], check=True,
                           stdout=subprocess.DEVNULL)
            with open(stamp, "w") as s:
                s.write(digest)
        lines.append(song.annotation())
    with open(os.path.join(out, "songs.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
