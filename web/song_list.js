// The archive's music as a listbox: one option a song (name, format, length,
// status), one selected, moved with the arrow keys, Home and End; Enter,
// space or a double click plays it. Names from the file go in as text.

// m:ss, the seconds truncated as a clock shows them.
export function clock_text(seconds) {
  const whole = Math.max(0, Math.floor(seconds));
  return `${Math.floor(whole / 60)}:${String(whole % 60).padStart(2, '0')}`;
}

// list: the <ul role="listbox">; t: the page's texts; on_play(index) is
// called as the user plays a song.
export class SongList {
  #list;
  #t;
  #on_play;
  #count = 0;
  selected = -1;

  constructor(list, t, on_play) {
    this.#list = list;
    this.#t = t;
    this.#on_play = on_play;
    list.addEventListener('keydown', (event) => this.#key(event));
    list.addEventListener('click', (event) => this.#pick(event, false));
    list.addEventListener('dblclick', (event) => this.#pick(event, true));
  }

  show(songs) {
    const rows = songs.map((song, index) => {
      const row = document.createElement('li');
      row.id = `song-${index}`;
      row.className = 'song-row';
      row.setAttribute('role', 'option');
      row.setAttribute('aria-selected', 'false');
      row.dataset.index = String(index);
      const cells = [
        song.name,
        song.format,
        song.seconds === null ? '—' : clock_text(song.seconds),
        Object.hasOwn(this.#t.statuses, song.status) ? this.#t.statuses[song.status] : song.status,
      ];
      for (const text of cells) {
        const cell = document.createElement('span');
        cell.textContent = text;
        row.append(cell, ' ');
      }
      return row;
    });
    this.#list.replaceChildren(...rows);
    this.#count = songs.length;
    this.selected = -1;
    this.#list.removeAttribute('aria-activedescendant');
    if (songs.length > 0) this.select(0);
  }

  select(index) {
    if (index < 0 || index >= this.#count) return;
    this.#row(this.selected)?.setAttribute('aria-selected', 'false');
    this.selected = index;
    const row = this.#row(index);
    row.setAttribute('aria-selected', 'true');
    this.#list.setAttribute('aria-activedescendant', row.id);
    row.scrollIntoView({block: 'nearest'});
  }

  // Marks the song that sounds, apart from the one selected.
  mark_playing(index) {
    for (const row of this.#list.children)
      row.classList.toggle('playing', row.id === `song-${index}`);
  }

  #row(index) {
    return index < 0 ? null : document.getElementById(`song-${index}`);
  }

  #pick(event, play) {
    const row = event.target.closest('[role="option"]');
    if (row === null) return;
    this.select(Number(row.dataset.index));
    if (play) this.#on_play(this.selected);
  }

  #key(event) {
    const moves = {
      ArrowDown: this.selected + 1,
      ArrowUp: this.selected - 1,
      Home: 0,
      End: this.#count - 1,
    };
    if (event.key in moves) {
      this.select(moves[event.key]);
    } else if ((event.key === 'Enter' || event.key === ' ') && this.selected >= 0) {
      this.#on_play(this.selected);
    } else {
      return;
    }
    event.preventDefault();
  }
}
