// Two tiny valid pictures for the upload form. Their sizes differ from each other and are not
// square, so a picture shown at the wrong address or decoded wrongly does not pass as right.

// A 7×5 GIF89a, two colours in a checker pattern, written by hand: a global table of navy and
// yellow, LZW with a minimum code size of 2 and a clear code before every second pixel, so that
// every code stays 3 bits wide.
export const gif = {
  name: 'tiny.gif',
  mimeType: 'image/gif',
  width: 7,
  height: 5,
  buffer: Buffer.from('R0lGODlhBwAFAIAAAAAAgP//ACwAAAAABwAFAAACFUSIECFChAgRIkSIECFChAgRIkSIAgA7', 'base64'),
};

// A 9×6 baseline JPEG (a navy block on lilac) as Chromium's canvas encoder wrote it, less its
// colour profile.
export const jpeg = {
  name: 'photo.jpg',
  mimeType: 'image/jpeg',
  width: 9,
  height: 6,
  buffer: Buffer.from(
  '/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAYEBQYFBAYGBQYHBwYIChAKCgkJChQODwwQFxQYGBcUFhYaHSUfGhsjHBYW' +
  'ICwgIyYnKSopGR8tMC0oMCUoKSj/2wBDAQcHBwoIChMKChMoGhYaKCgoKCgoKCgoKCgoKCgoKCgoKCgoKCgoKCgoKCgo' +
  'KCgoKCgoKCgoKCgoKCgoKCgoKCj/wAARCAAGAAkDASIAAhEBAxEB/8QAFgABAQEAAAAAAAAAAAAAAAAAAAUG/8QAIhAA' +
  'AAUDBAMAAAAAAAAAAAAAAAIDBAUBEyIGFCExMlJh/8QAFQEBAQAAAAAAAAAAAAAAAAAABQb/xAAWEQEBAQAAAAAAAAAA' +
  'AAAAAAABABH/2gAMAwEAAhEDEQA/ANk4ZSZ9QtXiMvai006lVj9sU102WVzyL2Xinr9FUAFiuyYZf//Z', 'base64'),
};
